// The utility's own executable as untrusted bytes: reading it, finding the database trailer,
// and cutting the blocks that are sent.
//
// Input: one options byte, then the file.
//   bits 0-1  read fault: none, every read fails, short reads, none
//   bit 2     GetFileSize lies by (bits 4-7) - 8 bytes
//   bit 3     quiet mode
#include "fuzz_support.h"

#include "payload/self_image.h"

namespace {

const char exePath[] = "C:\\Users\\user\\Downloads\\kplx-loader.exe";

uint32_t le32(const unsigned char *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void checkBlocks(int blockCount, uint32_t databaseSize)
{
    const DWORD fileSize = selfImage.fileSize;
    const DWORD offset = selfImage.databaseOffset;
    FUZZ_CHECK(static_cast<uint64_t>(offset) + databaseSize + TRAILER_SIZE == fileSize,
               "offset " + std::to_string(offset) + " N " + std::to_string(databaseSize) + " size " +
                   std::to_string(fileSize));
    FUZZ_CHECK(blockCount >= 1 && static_cast<uint32_t>(blockCount) == databaseSize >> 7,
               "blocks " + std::to_string(blockCount) + " N " + std::to_string(databaseSize));

    // Blocks 0 .. blockCount are sent; -1 and blockCount + 1 lie outside and must read nothing.
    for (int k = -1; k <= blockCount + 1; ++k) {
        unsigned char block[BLOCK_SIZE];
        std::memset(block, 0xEE, sizeof block);
        copyBlock(k, block);
        for (int i = 0; i < BLOCK_SIZE; ++i) {
            uint64_t at = static_cast<uint64_t>(offset) + static_cast<uint64_t>(k) * BLOCK_SIZE + i;
            unsigned char expected = (k >= 0 && at < fileSize) ? selfImage.buffer[at] : 0;
            FUZZ_CHECK(block[i] == expected,
                       "block " + std::to_string(k) + " byte " + std::to_string(i) + " offset " +
                           std::to_string(offset));
        }
        if (k >= 0 && k <= blockCount)
            FUZZ_CHECK(blockAddress(k) == selfImage.buffer + offset + static_cast<size_t>(k) * BLOCK_SIZE,
                       "block address " + std::to_string(k));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const uint8_t options = in.byte();
    const std::vector<uint8_t> file = in.rest();

    freshHost();
    freeSelfImage();
    quietMode = (options >> 3) & 1;

    testhost::ReadFault fault = testhost::ReadFault::none;
    if ((options & 3) == 1)
        fault = testhost::ReadFault::fail;
    else if ((options & 3) == 2)
        fault = testhost::ReadFault::shortRead;
    testhost::setReadFault(fault);

    // The size the file claims to have. Lies stay within a few bytes: a huge claim only tests
    // the allocator.
    uint64_t claimed = file.size();
    if (options & 4) {
        int64_t lie = static_cast<int64_t>(file.size()) + (options >> 4) - 8;
        if (lie > 0) {
            claimed = static_cast<uint64_t>(lie);
            testhost::setReportedFileSize(static_cast<DWORD>(lie));
        }
    }

    testhost::addFile(exePath, file);
    testhost::setCommandLine(std::string("\"") + exePath + "\" +Q");
    const int loaded = loadSelfImage();

    FUZZ_CHECK(loaded == 0 || loaded == -1, "loadSelfImage returned " + std::to_string(loaded));
    FUZZ_CHECK(testhost::openFileHandles() == 0, "file handle left open");

    // Short reads are continued; a read that fails or finds less than the claimed size loses
    // the file.
    bool readable = claimed <= file.size();
    if (fault == testhost::ReadFault::fail)
        readable = claimed == 0;
    FUZZ_CHECK((loaded == 0) == readable, "loaded " + std::to_string(loaded) + " claimed " + std::to_string(claimed) +
                                              " actual " + std::to_string(file.size()));

    if (loaded == 0) {
        FUZZ_CHECK(selfImage.buffer != nullptr, "loaded without a buffer");
        FUZZ_CHECK(selfImage.fileSize == claimed, "fileSize " + std::to_string(selfImage.fileSize));
        FUZZ_CHECK(claimed <= file.size() && (claimed == 0 || std::memcmp(selfImage.buffer, file.data(), claimed) == 0),
                   "buffer differs from the file");
        FUZZ_CHECK(testhost::messageBoxes().empty(), "message on success: " + joined(boxTexts()));
    } else {
        FUZZ_CHECK(selfImage.buffer == nullptr && selfImage.fileSize == 0, "failed load left a buffer");
        if (quietMode)
            FUZZ_CHECK(testhost::messageBoxes().empty(), "quiet mode showed " + joined(boxTexts()));
        else
            FUZZ_CHECK(boxTexts() == std::vector<std::string>{messageText(MSG_CANT_LOAD_IMAGE)},
                       "boxes " + joined(boxTexts()));
    }

    // What the trailer says, worked out here from the bytes the utility holds.
    const DWORD fileSize = selfImage.fileSize;
    const unsigned char *buffer = selfImage.buffer;
    uint32_t databaseSize = 0;
    bool tagged = buffer != nullptr && fileSize >= TRAILER_SIZE && std::memcmp(buffer + fileSize - 4, "DATA", 4) == 0;
    if (tagged)
        databaseSize = le32(buffer + fileSize - TRAILER_SIZE);
    const bool valid = tagged && databaseSize <= fileSize - TRAILER_SIZE && (databaseSize >> 7) >= 1;

    const int blockCount = validateTrailer();
    FUZZ_CHECK(blockCount == (valid ? static_cast<int>(databaseSize >> 7) : 0),
               "validateTrailer " + std::to_string(blockCount) + " N " + std::to_string(databaseSize) +
                   " size " + std::to_string(fileSize));
    FUZZ_CHECK(validateTrailer() == blockCount, "second validation differs");
    if (blockCount > 0)
        checkBlocks(blockCount, databaseSize);

    freeSelfImage();
    FUZZ_CHECK(selfImage.buffer == nullptr, "freeSelfImage kept the buffer");
    return 0;
}
