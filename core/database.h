// The database as it travels: appended to the utility and closed by an 8-byte trailer,
//   [executable image][database: N bytes][N: uint32 little-endian]["DATA"]
// and sent in 128-byte blocks 0 .. N >> 7; the last block holds the final N mod 128 bytes, the
// trailer, and zeros for whatever lies past the end of the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kplx::core {

constexpr size_t kTrailerSize = 8;
constexpr uint32_t kBlockSize = 128;
constexpr uint32_t kMinDatabaseSize = kBlockSize;   // whole blocks only, at least one

enum class TrailerStatus {
    found,
    fileTooShort,   // fewer bytes than a trailer
    noMagic,        // the last four bytes are not "DATA"
    tooSmall,       // N < kMinDatabaseSize
    tooLarge,       // N and the trailer run past the start of the file
};

struct Trailer {
    TrailerStatus status = TrailerStatus::fileTooShort;
    uint32_t size = 0;         // N, valid unless fileTooShort or noMagic
    uint64_t offset = 0;       // where the database starts (found only)
    uint32_t blockCount = 0;   // N >> 7
    uint64_t frameCount = 0;   // data frames sent: blockCount + 1
};

// `tail` holds the last min(fileSize, kTrailerSize) bytes of a file of `fileSize` bytes.
Trailer parseTrailer(const uint8_t *tail, size_t tailLength, uint64_t fileSize);

std::array<uint8_t, kTrailerSize> makeTrailer(uint32_t databaseSize);
bool fitsTrailer(uint64_t databaseSize);   // N must fit the trailer's 32 bits

// Short reason for a status, for messages ("no \"DATA\" trailer", ...).
const char *describe(TrailerStatus status);

// A file image in memory with a found database in it.
struct DatabaseView {
    const uint8_t *image = nullptr;
    uint64_t imageSize = 0;
    uint64_t offset = 0;       // start of the database in the image
    uint32_t size = 0;         // N

    uint32_t blockCount() const { return size >> 7; }
    uint64_t dataFrames() const { return uint64_t{blockCount()} + 1; }
};

// Data block k: the 128 bytes from image[offset + 128 k]; bytes beyond the image are zeros.
void copyDataBlock(const DatabaseView &database, uint64_t k, uint8_t block[kBlockSize]);

}  // namespace kplx::core
