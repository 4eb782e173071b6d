// The 8-byte trailer that closes a database appended to the utility:
// N (database size, uint32 little-endian) then ASCII "DATA".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kplx::pack {

constexpr std::size_t kTrailerSize = 8;
constexpr std::uint32_t kBlockSize = 128;
// The utility sends whole blocks and refuses anything shorter than one.
constexpr std::uint32_t kMinDatabaseSize = kBlockSize;

enum class TrailerStatus {
    Found,
    FileTooShort,   // fewer bytes than a trailer
    NoMagic,        // last four bytes are not "DATA"
    TooSmall,       // N < kMinDatabaseSize
    TooLarge,       // N + trailer runs past the start of the file
};

struct Trailer {
    TrailerStatus status = TrailerStatus::FileTooShort;
    std::uint32_t size = 0;      // N, valid unless FileTooShort/NoMagic
    std::uint64_t offset = 0;    // where the database starts (Found only)
    std::uint32_t blockCount = 0;  // N >> 7
    std::uint64_t frameCount = 0;  // blocks the utility sends: blockCount + 1
};

// `tail` holds the last min(fileSize, kTrailerSize) bytes of a file of `fileSize` bytes.
Trailer parseTrailer(const unsigned char *tail, std::size_t tailLength, std::uint64_t fileSize);

// N must fit 32 bits; see fitsTrailer.
std::array<unsigned char, kTrailerSize> makeTrailer(std::uint32_t databaseSize);

bool fitsTrailer(std::uint64_t databaseSize);

// Short reason for a status, for messages ("no \"DATA\" trailer", ...).
const char *describe(TrailerStatus status);

}  // namespace kplx::pack
