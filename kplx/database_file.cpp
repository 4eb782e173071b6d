#include "kplx/database_file.h"

#include "kplx/input_file.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>

namespace kplx {

namespace {

// The bytes [offset, offset + count) of the file into `file.image`, which then ends with
// `extra` (the trailer a raw database is sent with).
bool readInto(DatabaseFile &file, InputFile &input, uint64_t offset, uint64_t count, const uint8_t *extra,
              size_t extraCount)
{
    // A 32-bit kplx.exe cannot even count a 4 GB database and its trailer in one size_t.
    bool fits = count <= std::numeric_limits<size_t>::max() - extraCount;
    if (fits) {
        try {
            file.image.resize(static_cast<size_t>(count) + extraCount);
        } catch (const std::bad_alloc &) {
            fits = false;
        }
    }
    if (!fits) {
        file.error = input.shown() + ": not enough memory for its " + std::to_string(count) + "-byte database";
        return false;
    }
    if (!input.readAt(offset, file.image.data(), static_cast<size_t>(count))) {
        file.error = input.error();
        return false;
    }
    std::copy(extra, extra + extraCount, file.image.begin() + static_cast<std::ptrdiff_t>(count));
    return true;
}

bool readRaw(DatabaseFile &file, InputFile &input)
{
    const uint64_t size = input.size();
    if (size < core::kMinDatabaseSize) {
        file.error = input.shown() + ": the database has " + std::to_string(size) + " bytes; a meter needs at least 128";
        return false;
    }
    if (!core::fitsTrailer(size)) {
        file.error = input.shown() + ": the database has " + std::to_string(size) +
                     " bytes, too large for the trailer's 32-bit size (at most " + std::to_string(kMaxDatabaseBytes) + ")";
        return false;
    }
    const auto trailer = core::makeTrailer(static_cast<uint32_t>(size));
    return readInto(file, input, 0, size, trailer.data(), trailer.size());
}

bool readPacked(DatabaseFile &file, InputFile &input)
{
    const uint64_t size = input.size();
    if (size > kMaxPackedBytes) {
        file.error = tooLargeToBePacked(input.shown(), size);
        return false;
    }
    const size_t tailLength = size < core::kTrailerSize ? static_cast<size_t>(size) : core::kTrailerSize;
    uint8_t tail[core::kTrailerSize] = {};
    if (!input.readAt(size - tailLength, tail, tailLength)) {
        file.error = input.error();
        return false;
    }
    const core::Trailer t = core::parseTrailer(tail, tailLength, size);
    if (t.status != core::TrailerStatus::found) {
        file.error = input.shown() + ": " + core::describe(t.status);
        if (t.status == core::TrailerStatus::tooSmall || t.status == core::TrailerStatus::tooLarge)
            file.error += " (N = " + std::to_string(t.size) + ", the file has " + std::to_string(size) + " bytes)";
        if (t.status == core::TrailerStatus::noMagic || t.status == core::TrailerStatus::fileTooShort)
            file.error += "; is it a packed utility? (--raw loads a database file)";
        return false;
    }
    return readInto(file, input, t.offset, t.size, tail, tailLength);
}

}  // namespace

DatabaseFile readDatabaseFile(const std::string &path, bool raw)
{
    DatabaseFile file;
    InputFile input(path, "'" + path + "'");
    if (!input.ok()) {
        file.error = input.error();
        return file;
    }
    if (!(raw ? readRaw(file, input) : readPacked(file, input)))
        return file;
    file.view.image = file.image.data();
    file.view.imageSize = file.image.size();
    file.view.offset = 0;
    file.view.size = static_cast<uint32_t>(file.image.size() - core::kTrailerSize);
    return file;
}

}  // namespace kplx
