#include "kplx/database_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kplx {

bool readWholeFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error)
{
    bytes.clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    uint8_t chunk[64 * 1024];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

DatabaseFile readDatabaseFile(const std::string &path, bool raw)
{
    DatabaseFile file;
    if (!readWholeFile(path, file.image, file.error))
        return file;

    if (raw) {
        if (file.image.size() < core::kMinDatabaseSize) {
            file.error = path + ": the database has " + std::to_string(file.image.size()) +
                         " bytes; a meter needs at least 128";
            return file;
        }
        if (!core::fitsTrailer(file.image.size())) {
            file.error = path + ": the database is too large for the trailer's 32-bit size";
            return file;
        }
        auto trailer = core::makeTrailer(static_cast<uint32_t>(file.image.size()));
        file.image.insert(file.image.end(), trailer.begin(), trailer.end());
    }

    const size_t tail = file.image.size() < core::kTrailerSize ? file.image.size() : core::kTrailerSize;
    core::Trailer t = core::parseTrailer(file.image.data() + file.image.size() - tail, tail, file.image.size());
    if (t.status != core::TrailerStatus::found) {
        file.error = path + ": " + core::describe(t.status);
        if (t.status == core::TrailerStatus::tooSmall || t.status == core::TrailerStatus::tooLarge)
            file.error += " (N = " + std::to_string(t.size) + ", the file has " + std::to_string(file.image.size()) +
                          " bytes)";
        if (t.status == core::TrailerStatus::noMagic || t.status == core::TrailerStatus::fileTooShort)
            file.error += "; is it a packed utility? (--raw loads a database file)";
        return file;
    }
    file.view.image = file.image.data();
    file.view.imageSize = file.image.size();
    file.view.offset = t.offset;
    file.view.size = t.size;
    return file;
}

}  // namespace kplx
