#include "core/database.h"

#include <cstring>
#include <limits>

namespace kplx::core {

namespace {
constexpr uint8_t kMagic[4] = {'D', 'A', 'T', 'A'};
}

Trailer parseTrailer(const uint8_t *tail, size_t tailLength, uint64_t fileSize)
{
    Trailer t;
    if (fileSize < kTrailerSize || tailLength < kTrailerSize) {
        t.status = TrailerStatus::fileTooShort;
        return t;
    }
    const uint8_t *p = tail + tailLength - kTrailerSize;
    if (std::memcmp(p + 4, kMagic, sizeof kMagic) != 0) {
        t.status = TrailerStatus::noMagic;
        return t;
    }
    t.size = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    t.blockCount = t.size >> 7;
    t.frameCount = uint64_t{t.blockCount} + 1;
    if (t.size < kMinDatabaseSize) {
        t.status = TrailerStatus::tooSmall;
        return t;
    }
    // 64-bit sum: N near 4 GiB must not wrap past the check.
    if (uint64_t{t.size} + kTrailerSize > fileSize) {
        t.status = TrailerStatus::tooLarge;
        return t;
    }
    t.offset = fileSize - kTrailerSize - t.size;
    t.status = TrailerStatus::found;
    return t;
}

std::array<uint8_t, kTrailerSize> makeTrailer(uint32_t databaseSize)
{
    return {static_cast<uint8_t>(databaseSize), static_cast<uint8_t>(databaseSize >> 8),
            static_cast<uint8_t>(databaseSize >> 16), static_cast<uint8_t>(databaseSize >> 24),
            kMagic[0], kMagic[1], kMagic[2], kMagic[3]};
}

bool fitsTrailer(uint64_t databaseSize)
{
    return databaseSize <= std::numeric_limits<uint32_t>::max();
}

const char *describe(TrailerStatus status)
{
    switch (status) {
    case TrailerStatus::found: return "database found";
    case TrailerStatus::fileTooShort: return "file is shorter than a trailer";
    case TrailerStatus::noMagic: return "no \"DATA\" trailer";
    case TrailerStatus::tooSmall: return "trailer gives a database under 128 bytes";
    case TrailerStatus::tooLarge: return "trailer gives a database larger than the file";
    }
    return "unknown";
}

void copyDataBlock(const DatabaseView &database, uint64_t k, uint8_t block[kBlockSize])
{
    std::memset(block, 0, kBlockSize);
    const uint64_t start = database.offset + k * kBlockSize;
    if (database.image == nullptr || start >= database.imageSize)
        return;
    const uint64_t available = database.imageSize - start;
    std::memcpy(block, database.image + start, available < kBlockSize ? static_cast<size_t>(available) : kBlockSize);
}

}  // namespace kplx::core
