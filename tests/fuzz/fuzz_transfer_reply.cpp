// A database transfer to a meter whose replies come from the input, ticked to its end on the
// virtual clock. Whatever the meter answers, the transfer must end within its steps and read
// timeouts, close the port, stop its timers, stop at the first frame that was not
// acknowledged, and say "Transfer Complete!" only when the meter took every block.
//
// Input: u16 database size (128 + v % 873), then one byte each for the frame that gets the raw
// reply, a NAK, the first silent frame and the unplugging (>= 0x80: none, else modulo the
// frame count), a piece count (modulo 5) and that many piece sizes (modulo 13), then the raw
// reply (at most 64 bytes).
#include "fuzz_device.h"

#include "payload/self_image.h"
#include "protocol/transfer.h"
#include "usb/com_access.h"

namespace {

const char exePath[] = "C:\\Users\\user\\Downloads\\kplx-loader.exe";
const size_t programSize = 64;
HWND__ windowTag;
HWND const window = &windowTag;

std::vector<uint8_t> packedExe(uint32_t n)
{
    std::vector<uint8_t> exe(programSize, 0x90);
    uint32_t x = 0x9E3779B9u ^ n;
    for (uint32_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        exe.push_back(static_cast<uint8_t>(x));
    }
    for (int i = 0; i < 4; ++i)
        exe.push_back(static_cast<uint8_t>(n >> (8 * i)));
    exe.insert(exe.end(), {'D', 'A', 'T', 'A'});
    return exe;
}

int frameChoice(uint8_t b, int stepCount)
{
    return b >= 0x80 ? -1 : b % stepCount;
}

// The END rule: an ACK, an STX or a length of seven where the "SUCCESS" frame would have
// them, or "SUCCESS" itself.
bool endConfirmedBy(const std::vector<uint8_t> &read)
{
    uint8_t r[END_REPLY_LENGTH] = {};
    for (size_t i = 0; i < read.size() && i < END_REPLY_LENGTH; ++i)
        r[i] = read[i];
    return r[0] == ACK || r[1] == STX || r[2] == 7 || std::memcmp(r + 3, "SUCCESS", 7) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const uint32_t n = 128 + in.u16() % 873;
    const int blockCount = static_cast<int>(n >> 7);
    const int stepCount = blockCount + 3;

    sim::Faults faults;
    faults.rawReplyAtFrame = frameChoice(in.byte(), stepCount);
    faults.nakAtFrame = frameChoice(in.byte(), stepCount);
    faults.silentFromFrame = frameChoice(in.byte(), stepCount);
    faults.unplugAtFrame = frameChoice(in.byte(), stepCount);
    const int pieceCount = in.byte() % 5;
    for (int i = 0; i < pieceCount; ++i)
        faults.replyPieces.push_back(in.byte() % 13);
    faults.rawReply = in.take(64);

    freshDevices();
    freeSelfImage();
    quietMode = 0;
    ComAccess port;
    std::memset(&transfer, 0, sizeof transfer);
    transfer.port = &port;
    const std::vector<uint8_t> exe = packedExe(n);
    testhost::addFile(exePath, exe);
    testhost::setCommandLine(std::string("\"") + exePath + "\"");
    sim::DeviceConfig config;
    config.faults = faults;
    sim::addDevice(config);

    const double startMs = sim::nowMs();
    startTransfer(window);
    FUZZ_CHECK(transfer.active == 1 && transfer.stepCount == stepCount,
               "did not start: " + joined(boxTexts()) + " steps " + std::to_string(transfer.stepCount));
    FUZZ_CHECK(port.readTimeout == TRANSFER_READ_TIMEOUT_MS && sim::port(0).readTimeoutMs == TRANSFER_READ_TIMEOUT_MS,
               "read timeout not set");

    // As the message loop delivers them; one step a tick once settled.
    int ticks = 0;
    while (transfer.active && ticks <= stepCount + 5) {
        if (testhost::timers().count(SETTLE_TIMER))
            routeTransferTimer(window, SETTLE_TIMER);
        if (testhost::timers().count(STEP_TIMER))
            routeTransferTimer(window, STEP_TIMER);
        ++ticks;
    }
    const double elapsedMs = sim::nowMs() - startMs;

    FUZZ_CHECK(!transfer.active && ticks <= stepCount, "still running after " + std::to_string(ticks) + " ticks");
    FUZZ_CHECK(elapsedMs <= stepCount * 2.0 * TRANSFER_READ_TIMEOUT_MS,
               "took " + std::to_string(elapsedMs) + " ms for " + std::to_string(stepCount) + " steps");
    FUZZ_CHECK(transfer.busy == 0, "left busy");
    FUZZ_CHECK(port.handle == nullptr && !sim::port(0).open, "port left open");
    FUZZ_CHECK(testhost::timers().empty(), "timers left running");

    const std::vector<std::string> boxes = boxTexts();
    FUZZ_CHECK(boxes.size() == 1, "messages " + joined(boxes));
    const bool complete = boxes[0] == messageText(MSG_TRANSFER_COMPLETE);
    const bool handshake = boxes[0] == messageText(MSG_HANDSHAKE_NOT_RECEIVED);
    const bool endError = boxes[0] == messageText(MSG_TRANSFER_ERROR);
    FUZZ_CHECK(complete || handshake || endError, "message " + joined(boxes));

    // What went over the line, and what the meter answered to each frame.
    const std::vector<sim::FrameRecord> &frames = sim::frames(0);
    const size_t sent = frames.size();
    const size_t last = static_cast<size_t>(stepCount) - 1;
    FUZZ_CHECK(sent >= 1 && sent <= static_cast<size_t>(stepCount), "frames sent " + std::to_string(sent));
    std::vector<uint8_t> database;
    for (size_t i = 0; i < sent; ++i) {
        std::vector<uint8_t> expected;
        if (i == 0) {
            expected = frameOf("DATABASE");
        } else if (i == last) {
            expected = frameOf("END");
        } else {
            std::vector<uint8_t> block(BLOCK_SIZE, 0);
            size_t from = programSize + (i - 1) * BLOCK_SIZE;
            for (size_t j = 0; j < BLOCK_SIZE && from + j < exe.size(); ++j)
                block[j] = exe[from + j];
            database.insert(database.end(), block.begin(), block.end());
            expected = frameOf(block);
        }
        FUZZ_CHECK(frames[i].bytes == expected, "frame " + std::to_string(i) + " is " + hexBytes(frames[i].bytes));
    }

    std::string replies;
    size_t firstUnacknowledged = sent;
    bool oneByteReplies = true;   // nothing left over for a later frame's read
    for (size_t i = 0; i < sent; ++i) {
        const std::vector<uint8_t> &reply = frames[i].reply;
        replies += " #" + std::to_string(i) + ": " + hexBytes(reply, 12);
        if (i == last)
            continue;
        if (firstUnacknowledged == sent && (reply.empty() || reply[0] != ACK))
            firstUnacknowledged = i;
        if (reply.size() > 1)
            oneByteReplies = false;
    }
    const std::string story = "outcome " + joined(boxes) + "frames " + std::to_string(sent) + " of " +
                              std::to_string(stepCount) + ", replies" + replies;

    if (firstUnacknowledged < sent) {
        FUZZ_CHECK(handshake, "frame " + std::to_string(firstUnacknowledged) + " not acknowledged; " + story);
        FUZZ_CHECK(sent == firstUnacknowledged + 1, "frames sent after an unacknowledged one; " + story);
    }
    if (handshake)
        FUZZ_CHECK(sent - 1 < last && sent - 1 == firstUnacknowledged,
                   "handshake error though the meter acknowledged; " + story);
    if (complete || endError)
        FUZZ_CHECK(sent == static_cast<size_t>(stepCount) && firstUnacknowledged == sent, story);
    if (complete) {
        FUZZ_CHECK(!frames[last].reply.empty(), "complete without an answer to END; " + story);
        FUZZ_CHECK(sim::receivedDatabase(0) == database,
                   "complete, but the meter holds " + std::to_string(sim::receivedDatabase(0).size()) + " of " +
                       std::to_string(database.size()) + " bytes; " + story);
        // END itself follows the lenient rule below; an ACK to it must have closed the database.
        if (frames[last].reply[0] == ACK)
            FUZZ_CHECK(sim::databaseComplete(0), "END acknowledged but the database not closed; " + story);
        FUZZ_CHECK(transfer.progress == stepCount, "progress " + std::to_string(transfer.progress));
    } else {
        FUZZ_CHECK(transfer.progress == static_cast<int>(sent) - 1, "progress " + std::to_string(transfer.progress));
    }

    // With nothing left over from earlier replies the END read is the first piece of its reply
    // (at most ten bytes), so the verdict is known.
    if (oneByteReplies && sent == static_cast<size_t>(stepCount) && firstUnacknowledged == sent) {
        std::vector<uint8_t> read = frames[last].reply;
        size_t piece = read.size();
        if (!faults.replyPieces.empty())
            piece = static_cast<size_t>(faults.replyPieces[0] > 1 ? faults.replyPieces[0] : 1);
        if (read.size() > piece)
            read.resize(piece);
        FUZZ_CHECK(complete == endConfirmedBy(read), "END read " + hexBytes(read) + "; " + story);
    }

    freeSelfImage();
    return 0;
}
