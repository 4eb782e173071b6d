#include "fixture.h"

#include "payload/self_image.h"

#include <cstring>

namespace {

const char exePath[] = "C:\\Users\\user\\Downloads\\kplx-loader.exe";

std::vector<unsigned char> image(size_t programSize)
{
    std::vector<unsigned char> bytes(programSize);
    for (size_t i = 0; i < programSize; ++i)
        bytes[i] = static_cast<unsigned char>(0xA0 + i % 7);
    return bytes;
}

void appendTrailer(std::vector<unsigned char> &bytes, uint32_t n, const char tag[4] = "DATA")
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<unsigned char>(n >> (8 * i)));
    bytes.insert(bytes.end(), tag, tag + 4);
}

std::vector<unsigned char> packed(size_t programSize, uint32_t n)
{
    std::vector<unsigned char> bytes = image(programSize);
    for (uint32_t i = 0; i < n; ++i)
        bytes.push_back(static_cast<unsigned char>(i * 31 + 1));
    appendTrailer(bytes, n);
    return bytes;
}

class SelfImageTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        freeSelfImage();
        quietMode = 0;
        testhost::setCommandLine(std::string("\"") + exePath + "\"");
    }
    void TearDown() override { freeSelfImage(); }
};

// --- Finding and reading the executable -----------------------------------------------------

TEST_F(SelfImageTest, QuotedPathWithArgumentsOpensTheExecutable)
{
    testhost::addFile(exePath, packed(1000, 200));
    testhost::setCommandLine(std::string("\"") + exePath + "\" +Q  other");
    ASSERT_EQ(0, loadSelfImage());
    EXPECT_EQ(exePath, testhost::openedPaths().back());
    EXPECT_EQ(1208u, selfImage.fileSize);
    EXPECT_EQ(0, testhost::openFileHandles());
}

TEST_F(SelfImageTest, UnquotedRelativePathWithArgumentsIsMadeAbsolute)
{
    testhost::addFile(exePath, packed(10, 128));
    testhost::setCommandLine("kplx-loader.exe +Q");
    ASSERT_EQ(0, loadSelfImage());
    EXPECT_EQ(exePath, testhost::openedPaths().back());
}

TEST_F(SelfImageTest, PathWithoutExeExtensionGetsIt)
{
    testhost::addFile(exePath, packed(10, 128));
    testhost::setCommandLine("kplx-loader");
    ASSERT_EQ(0, loadSelfImage());
    EXPECT_EQ(exePath, testhost::openedPaths().back());
}

TEST_F(SelfImageTest, ExtensionInOtherCaseIsKept)
{
    std::string upper = "C:\\Users\\user\\Downloads\\KPLX.EXE";
    testhost::addFile(upper, packed(10, 128));
    testhost::setCommandLine("\"" + upper + "\"");
    ASSERT_EQ(0, loadSelfImage());
    EXPECT_EQ(upper, testhost::openedPaths().back());
}

TEST_F(SelfImageTest, EmptyCommandLineFailsSilently)
{
    testhost::setCommandLine("");
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_TRUE(testhost::messageBoxes().empty());
    EXPECT_TRUE(testhost::openedPaths().empty());
}

TEST_F(SelfImageTest, MissingFileShowsCantLoadProgramImage)
{
    EXPECT_EQ(-1, loadSelfImage());
    ASSERT_EQ(1u, testhost::messageBoxes().size());
    EXPECT_EQ("Can't load program image", testhost::messageBoxes()[0].text);
    EXPECT_EQ(0x2010u, testhost::messageBoxes()[0].type);
    EXPECT_EQ(nullptr, selfImage.buffer);
}

TEST_F(SelfImageTest, QuietModeSilencesCantLoadProgramImage)
{
    quietMode = 1;
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_TRUE(testhost::messageBoxes().empty());
}

TEST_F(SelfImageTest, CommandLineLongerThanItsBufferCountsAsUnopenable)
{
    testhost::addFile(exePath, packed(10, 128));
    testhost::setCommandLine(std::string("\"") + exePath + "\" " + std::string(600, 'x'));
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_EQ(std::vector<std::string>{"Can't load program image"}, boxTexts());
    EXPECT_TRUE(testhost::openedPaths().empty());
}

TEST_F(SelfImageTest, AbsolutePathLongerThanItsBufferCountsAsUnopenable)
{
    testhost::setCurrentDirectory("C:\\" + std::string(450, 'd'));
    testhost::setCommandLine(std::string(100, 'f') + ".exe");
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_EQ(std::vector<std::string>{"Can't load program image"}, boxTexts());
    EXPECT_TRUE(testhost::openedPaths().empty());
}

TEST_F(SelfImageTest, PathWithRoomOnlyWithoutExtensionIsRefused)
{
    // 509 characters fit the 512-byte buffer, but not with ".exe" after them.
    testhost::setCurrentDirectory("C:\\" + std::string(502, 'd'));
    testhost::setCommandLine("abc");
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_TRUE(testhost::openedPaths().empty());
}

TEST_F(SelfImageTest, FailedReadIsUnloadableNotGarbage)
{
    testhost::addFile(exePath, packed(100, 128));
    testhost::setReadFault(testhost::ReadFault::fail);
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_EQ(nullptr, selfImage.buffer);
    EXPECT_EQ(std::vector<std::string>{"Can't load program image"}, boxTexts());
    EXPECT_EQ(0, testhost::openFileHandles());
}

TEST_F(SelfImageTest, ShortReadsAreContinuedToTheEnd)
{
    std::vector<unsigned char> bytes = packed(100, 300);
    testhost::addFile(exePath, bytes);
    testhost::setReadFault(testhost::ReadFault::shortRead);
    ASSERT_EQ(0, loadSelfImage());
    EXPECT_EQ(0, memcmp(bytes.data(), selfImage.buffer, bytes.size()));
}

TEST_F(SelfImageTest, FileShorterThanItClaimsIsUnloadable)
{
    testhost::addFile(exePath, packed(100, 128));
    testhost::setReportedFileSize(10000);
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_EQ(nullptr, selfImage.buffer);
}

TEST_F(SelfImageTest, FailedAllocationShowsCantAllocateMemory)
{
    testhost::addFile(exePath, packed(100, 128));
    testhost::setReportedFileSize(0xFFFFFFF0u);
    EXPECT_EQ(-1, loadSelfImage());
    EXPECT_EQ(std::vector<std::string>{"Can't allocate memory"}, boxTexts());
    EXPECT_EQ(0x2010u, testhost::messageBoxes()[0].type);
    EXPECT_EQ(0, testhost::openFileHandles());
}

TEST_F(SelfImageTest, EachLoadReplacesTheEarlierBuffer)
{
    testhost::addFile(exePath, packed(100, 128));
    ASSERT_EQ(0, loadSelfImage());
    testhost::addFile(exePath, packed(50, 256));
    ASSERT_EQ(0, loadSelfImage());
    EXPECT_EQ(50u + 256 + 8, selfImage.fileSize);
}

// --- The trailer ----------------------------------------------------------------------------

class Trailer : public SelfImageTest {
protected:
    int validate(const std::vector<unsigned char> &bytes)
    {
        testhost::addFile(exePath, bytes);
        EXPECT_EQ(0, loadSelfImage());
        return validateTrailer();
    }
};

TEST_F(Trailer, NoTrailerIsInvalid)
{
    EXPECT_EQ(0, validate(image(4096)));
}

TEST_F(Trailer, TagIsCaseSensitive)
{
    std::vector<unsigned char> bytes = image(1000);
    appendTrailer(bytes, 200, "data");
    EXPECT_EQ(0, validate(bytes));
}

TEST_F(Trailer, DatabaseOf127BytesIsInvalid)
{
    EXPECT_EQ(0, validate(packed(1000, 127)));
}

TEST_F(Trailer, DatabaseOf128BytesIsOneBlock)
{
    EXPECT_EQ(1, validate(packed(1000, 128)));
    EXPECT_EQ(1000u, selfImage.databaseOffset);
}

TEST_F(Trailer, SampleSizeGives547Blocks)
{
    EXPECT_EQ(547, validate(packed(3000, 70085)));
    EXPECT_EQ(3000u, selfImage.databaseOffset);
}

TEST_F(Trailer, FileShorterThanTrailerIsInvalid)
{
    EXPECT_EQ(0, validate({'D', 'A', 'T', 'A'}));
    EXPECT_EQ(0, validate({}));
}

TEST_F(Trailer, SizeReachingBeforeTheFileIsInvalid)
{
    std::vector<unsigned char> bytes = image(100);
    appendTrailer(bytes, 109);
    EXPECT_EQ(0, validate(bytes));
    bytes = image(100);
    appendTrailer(bytes, 0xFFFFFFFFu);
    EXPECT_EQ(0, validate(bytes));
}

TEST_F(Trailer, DatabaseFillingTheWholeFileIsValid)
{
    std::vector<unsigned char> bytes = image(128);
    appendTrailer(bytes, 128);
    EXPECT_EQ(1, validate(bytes));
    EXPECT_EQ(0u, selfImage.databaseOffset);
}

// --- Blocks ---------------------------------------------------------------------------------

TEST_F(Trailer, BlocksAreConsecutiveDatabaseBytes)
{
    std::vector<unsigned char> bytes = packed(77, 300);
    ASSERT_EQ(2, validate(bytes));
    unsigned char block[BLOCK_SIZE];
    copyBlock(1, block);
    EXPECT_EQ(0, memcmp(bytes.data() + 77 + 128, block, BLOCK_SIZE));
    EXPECT_EQ(selfImage.buffer + 77 + 128, blockAddress(1));
}

TEST_F(Trailer, LastBlockCarriesTheTrailerThenZeros)
{
    std::vector<unsigned char> bytes = packed(77, 130);   // 2 bytes left over, then the trailer
    ASSERT_EQ(1, validate(bytes));
    unsigned char block[BLOCK_SIZE];
    memset(block, 0xEE, sizeof block);
    copyBlock(1, block);
    EXPECT_EQ(0, memcmp(bytes.data() + 77 + 128, block, 10));
    for (int i = 10; i < BLOCK_SIZE; ++i)
        ASSERT_EQ(0, block[i]) << "byte " << i;
}

TEST_F(Trailer, LastBlockOfExactMultipleIsTrailerAndZeros)
{
    std::vector<unsigned char> bytes = packed(5, 128);
    ASSERT_EQ(1, validate(bytes));
    unsigned char block[BLOCK_SIZE];
    copyBlock(1, block);
    EXPECT_EQ(0, memcmp(bytes.data() + 5 + 128, block, 8));
    EXPECT_EQ(0, block[8]);
    EXPECT_EQ(0, block[127]);
}

TEST_F(Trailer, LastBlockEndingExactlyAtFileEndIsCopiedWhole)
{
    std::vector<unsigned char> bytes = packed(5, 128 + 120);   // 120 + 8 = one whole block
    ASSERT_EQ(1, validate(bytes));
    unsigned char block[BLOCK_SIZE];
    copyBlock(1, block);
    EXPECT_EQ(0, memcmp(bytes.data() + 5 + 128, block, BLOCK_SIZE));
}

}  // namespace
