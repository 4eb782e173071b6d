#include "core/database.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace kplx::core;

namespace {

// The last bytes of a file: `prefix` garbage then a trailer carrying `n`.
std::vector<unsigned char> tailWith(uint32_t n, size_t prefix = 0) {
    std::vector<unsigned char> tail(prefix, 0xAA);
    const auto t = makeTrailer(n);
    tail.insert(tail.end(), t.begin(), t.end());
    return tail;
}

Trailer parse(const std::vector<unsigned char> &tail, uint64_t fileSize) {
    return parseTrailer(tail.data(), tail.size(), fileSize);
}

}  // namespace

TEST(TrailerParse, FileShorterThanATrailerHasNone) {
    const unsigned char bytes[7] = {0x80, 0, 0, 0, 'D', 'A', 'T'};
    EXPECT_EQ(parseTrailer(bytes, 0, 0).status, TrailerStatus::fileTooShort);
    EXPECT_EQ(parseTrailer(bytes, 7, 7).status, TrailerStatus::fileTooShort);
}

TEST(TrailerParse, MagicMustBeExactlyDATA) {
    for (const char *magic : {"data", "DATa", "ATAD", "DAT\0"}) {
        std::vector<unsigned char> tail = {0x00, 0x01, 0x00, 0x00};
        tail.insert(tail.end(), magic, magic + 4);
        EXPECT_EQ(parse(tail, 4096).status, TrailerStatus::noMagic) << magic;
    }
}

TEST(TrailerParse, SizeIsLittleEndian) {
    const std::vector<unsigned char> tail = {0xC5, 0x11, 0x01, 0x00, 'D', 'A', 'T', 'A'};
    const Trailer t = parse(tail, 100000);
    ASSERT_EQ(t.status, TrailerStatus::found);
    EXPECT_EQ(t.size, 70085u);
    EXPECT_EQ(t.offset, 100000u - 8 - 70085);
}

TEST(TrailerParse, OnlyTheLastEightBytesCount) {
    const Trailer t = parse(tailWith(200, 5), 1000);
    ASSERT_EQ(t.status, TrailerStatus::found);
    EXPECT_EQ(t.size, 200u);
    EXPECT_EQ(t.offset, 792u);
}

TEST(TrailerLimits, OneByteUnderABlockIsRefused) {
    const Trailer t = parse(tailWith(127), 4096);
    EXPECT_EQ(t.status, TrailerStatus::tooSmall);
    EXPECT_EQ(t.size, 127u);
}

TEST(TrailerLimits, ExactlyOneBlockIsAccepted) {
    const Trailer t = parse(tailWith(128), 4096);
    ASSERT_EQ(t.status, TrailerStatus::found);
    EXPECT_EQ(t.blockCount, 1u);
    EXPECT_EQ(t.frameCount, 2u);
}

TEST(TrailerLimits, ZeroSizeIsRefused) {
    EXPECT_EQ(parse(tailWith(0), 4096).status, TrailerStatus::tooSmall);
}

TEST(TrailerLimits, DatabaseFillingTheWholeFileStartsAtZero) {
    const Trailer t = parse(tailWith(300), 308);
    ASSERT_EQ(t.status, TrailerStatus::found);
    EXPECT_EQ(t.offset, 0u);
}

TEST(TrailerLimits, DatabaseOneByteLargerThanTheFileIsRefused) {
    EXPECT_EQ(parse(tailWith(301), 308).status, TrailerStatus::tooLarge);
}

TEST(TrailerLimits, HugeSizeDoesNotWrapPastTheCheck) {
    // 0xFFFFFFFF + 8 overflows 32 bits; it must still be larger than a small file.
    EXPECT_EQ(parse(tailWith(0xFFFFFFFFu), 4096).status, TrailerStatus::tooLarge);
    EXPECT_EQ(parse(tailWith(0xFFFFFFF9u), 4096).status, TrailerStatus::tooLarge);
}

TEST(TrailerLimits, FilesOver4GiBAreMeasuredIn64Bits) {
    const Trailer t = parse(tailWith(0xFFFFFFFFu), 0x100000007ull + 10);
    ASSERT_EQ(t.status, TrailerStatus::found);
    EXPECT_EQ(t.offset, 10u);
    EXPECT_EQ(t.frameCount, 0x2000000ull);  // (N >> 7) + 1 needs more than the block count's type
}

TEST(TrailerBlocks, SampleSizeGivesAPartialLastBlock) {
    const Trailer t = parse(tailWith(70085), 80000);
    EXPECT_EQ(t.blockCount, 547u);
    EXPECT_EQ(t.frameCount, 548u);
}

TEST(TrailerBlocks, WholeBlocksStillSendOneMoreFrame) {
    const Trailer t = parse(tailWith(256), 4096);
    EXPECT_EQ(t.blockCount, 2u);
    EXPECT_EQ(t.frameCount, 3u);
}

TEST(TrailerBuild, BytesAreSizeLittleEndianThenDATA) {
    const auto t = makeTrailer(70085);
    const std::array<unsigned char, 8> expected = {0xC5, 0x11, 0x01, 0x00, 'D', 'A', 'T', 'A'};
    EXPECT_EQ(t, expected);
    const auto top = makeTrailer(0xFFFFFFFFu);
    EXPECT_EQ(top[3], 0xFF);
}

TEST(TrailerBuild, SizeMustFit32Bits) {
    EXPECT_TRUE(fitsTrailer(0xFFFFFFFFull));
    EXPECT_FALSE(fitsTrailer(0x100000000ull));
}
