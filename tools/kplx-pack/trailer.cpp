#include "kplx-pack/trailer.h"

#include <cstring>
#include <limits>

namespace kplx::pack {

namespace {
constexpr unsigned char kMagic[4] = {'D', 'A', 'T', 'A'};
}

Trailer parseTrailer(const unsigned char *tail, std::size_t tailLength, std::uint64_t fileSize) {
    Trailer t;
    if (fileSize < kTrailerSize || tailLength < kTrailerSize) {
        t.status = TrailerStatus::FileTooShort;
        return t;
    }
    const unsigned char *p = tail + tailLength - kTrailerSize;
    if (std::memcmp(p + 4, kMagic, sizeof kMagic) != 0) {
        t.status = TrailerStatus::NoMagic;
        return t;
    }
    t.size = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
             std::uint32_t{p[3]} << 24;
    t.blockCount = t.size >> 7;
    t.frameCount = std::uint64_t{t.blockCount} + 1;
    if (t.size < kMinDatabaseSize) {
        t.status = TrailerStatus::TooSmall;
        return t;
    }
    // 64-bit sum: N near 4 GiB must not wrap past the check.
    if (std::uint64_t{t.size} + kTrailerSize > fileSize) {
        t.status = TrailerStatus::TooLarge;
        return t;
    }
    t.offset = fileSize - kTrailerSize - t.size;
    t.status = TrailerStatus::Found;
    return t;
}

std::array<unsigned char, kTrailerSize> makeTrailer(std::uint32_t databaseSize) {
    return {static_cast<unsigned char>(databaseSize),
            static_cast<unsigned char>(databaseSize >> 8),
            static_cast<unsigned char>(databaseSize >> 16),
            static_cast<unsigned char>(databaseSize >> 24),
            kMagic[0], kMagic[1], kMagic[2], kMagic[3]};
}

bool fitsTrailer(std::uint64_t databaseSize) {
    return databaseSize <= std::numeric_limits<std::uint32_t>::max();
}

const char *describe(TrailerStatus status) {
    switch (status) {
    case TrailerStatus::Found: return "database found";
    case TrailerStatus::FileTooShort: return "file is shorter than a trailer";
    case TrailerStatus::NoMagic: return "no \"DATA\" trailer";
    case TrailerStatus::TooSmall: return "trailer gives a database under 128 bytes";
    case TrailerStatus::TooLarge: return "trailer gives a database larger than the file";
    }
    return "unknown";
}

}  // namespace kplx::pack
