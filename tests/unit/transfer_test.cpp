#include "fixture.h"

#include "payload/self_image.h"
#include "protocol/packet.h"
#include "protocol/transfer.h"
#include "usb/com_access.h"

#include <cctype>
#include <cmath>
#include <cstring>

namespace {

const char exePath[] = "C:\\Users\\user\\Downloads\\kplx-loader.exe";
HWND__ windowTag;
HWND const window = &windowTag;

std::vector<unsigned char> makeDatabase(uint32_t n)
{
    std::vector<unsigned char> db(n);
    uint32_t x = 0x12345678;
    for (auto &b : db) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    return db;
}

std::vector<unsigned char> packedExe(const std::vector<unsigned char> &db)
{
    std::vector<unsigned char> exe(4096, 0x90);
    exe.insert(exe.end(), db.begin(), db.end());
    uint32_t n = static_cast<uint32_t>(db.size());
    for (int i = 0; i < 4; ++i)
        exe.push_back(static_cast<unsigned char>(n >> (8 * i)));
    exe.insert(exe.end(), {'D', 'A', 'T', 'A'});
    return exe;
}

// What the meter must end up with: every block sent, the last one padded with zeros.
std::vector<unsigned char> expectedReceived(const std::vector<unsigned char> &db)
{
    std::vector<unsigned char> exe = packedExe(db);
    std::vector<unsigned char> tail(exe.begin() + 4096, exe.end());
    size_t blocks = db.size() / 128 + 1;
    tail.resize(blocks * 128, 0);
    return tail;
}

class Transfer : public HostTest {
protected:
    ComAccess port;

    void SetUp() override
    {
        HostTest::SetUp();
        installDriver();
        freeSelfImage();
        quietMode = 0;
        memset(&transfer, 0, sizeof transfer);
        transfer.port = &port;
        testhost::setCommandLine(std::string("\"") + exePath + "\"");
    }

    void TearDown() override
    {
        port.closePort();
        freeSelfImage();
    }

    int addMeter(const sim::Faults &faults = sim::Faults())
    {
        sim::DeviceConfig config;
        config.faults = faults;
        return sim::addDevice(config);
    }

    void useDatabase(const std::vector<unsigned char> &db) { testhost::addFile(exePath, packedExe(db)); }

    // Delivers the window's timer ticks as the message loop would, until the transfer ends.
    int tickUntilIdle(int maxTicks = 5000)
    {
        int ticks = 0;
        while (transfer.active && ticks < maxTicks) {
            if (testhost::timers().count(SETTLE_TIMER))
                routeTransferTimer(window, SETTLE_TIMER);
            if (testhost::timers().count(STEP_TIMER))
                routeTransferTimer(window, STEP_TIMER);
            ++ticks;
        }
        return ticks;
    }

    void run()
    {
        startTransfer(window);
        tickUntilIdle();
    }

    size_t countFrames(const std::vector<unsigned char> &frame)
    {
        size_t n = 0;
        for (const auto &f : sim::frames(0))
            n += f.bytes == frame;
        return n;
    }
};

std::vector<unsigned char> frameOf(const std::string &payload)
{
    unsigned char frame[FRAME_BUFFER_SIZE];
    int size = buildPacket(payload.data(), static_cast<int>(payload.size()), frame);
    return std::vector<unsigned char>(frame, frame + size);
}

// --- Successful transfers -------------------------------------------------------------------

TEST_F(Transfer, SampleSizedDatabaseArrivesWhole)
{
    addMeter();
    std::vector<unsigned char> db = makeDatabase(70085);
    useDatabase(db);
    startTransfer(window);
    EXPECT_EQ(550, transfer.stepCount);
    tickUntilIdle();

    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
    EXPECT_EQ(0x2040u, testhost::messageBoxes()[0].type);
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
    EXPECT_TRUE(sim::databaseComplete(0));
    ASSERT_EQ(550u, sim::frames(0).size());   // DATABASE, 548 blocks, END
    EXPECT_EQ(frameOf("DATABASE"), sim::frames(0).front().bytes);
    EXPECT_EQ(frameOf("END"), sim::frames(0).back().bytes);
    EXPECT_EQ(550, transfer.progress);
    EXPECT_EQ(0, transfer.active);
    EXPECT_EQ(nullptr, port.handle);
    EXPECT_TRUE(testhost::timers().empty());
}

TEST_F(Transfer, EveryBlockFrameIsBuiltFromItsBlock)
{
    addMeter();
    std::vector<unsigned char> db = makeDatabase(1000);
    useDatabase(db);
    run();
    std::vector<unsigned char> sent = expectedReceived(db);
    const auto &frames = sim::frames(0);
    ASSERT_EQ(1000u / 128 + 3, frames.size());
    for (size_t k = 0; k + 2 < frames.size(); ++k) {
        std::string block(sent.begin() + static_cast<long>(k * 128), sent.begin() + static_cast<long>(k * 128 + 128));
        EXPECT_EQ(frameOf(block), frames[k + 1].bytes) << "block " << k;
    }
}

TEST_F(Transfer, OneBlockDatabaseSendsTwoBlocks)
{
    addMeter();
    std::vector<unsigned char> db = makeDatabase(128);
    useDatabase(db);
    startTransfer(window);
    EXPECT_EQ(4, transfer.stepCount);
    tickUntilIdle();
    ASSERT_EQ(4u, sim::frames(0).size());
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
    EXPECT_EQ(256u, sim::receivedDatabase(0).size());
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
}

TEST_F(Transfer, StepMinusOneSetsTimeoutsAndSendsNothing)
{
    addMeter();
    useDatabase(makeDatabase(300));
    startTransfer(window);
    EXPECT_EQ(1, transfer.active);
    EXPECT_EQ(1, transfer.settling);
    EXPECT_EQ(0, transfer.stepIndex);
    EXPECT_EQ(6000u, port.readTimeout);
    EXPECT_EQ(100u, port.writeTimeout);
    EXPECT_TRUE(sim::frames(0).empty());
    EXPECT_EQ(10u, testhost::timers().at(STEP_TIMER));
    EXPECT_EQ(20u, testhost::timers().at(SETTLE_TIMER));
}

TEST_F(Transfer, StepTicksWaitForTheSettleTimer)
{
    addMeter();
    useDatabase(makeDatabase(300));
    startTransfer(window);
    for (int i = 0; i < 5; ++i)
        routeTransferTimer(window, STEP_TIMER);
    EXPECT_TRUE(sim::frames(0).empty());
    routeTransferTimer(window, SETTLE_TIMER);
    EXPECT_EQ(0u, testhost::timers().count(SETTLE_TIMER));
    routeTransferTimer(window, STEP_TIMER);
    EXPECT_EQ(1u, sim::frames(0).size());
    EXPECT_EQ(0, transfer.progress);
    routeTransferTimer(window, STEP_TIMER);
    EXPECT_EQ(1, transfer.progress);
}

TEST_F(Transfer, TicksWhileIdleAndOtherTimersAreIgnored)
{
    addMeter();
    routeTransferTimer(window, STEP_TIMER);
    routeTransferTimer(window, 1);
    EXPECT_TRUE(sim::frames(0).empty());
    EXPECT_TRUE(testhost::messageBoxes().empty());
}

TEST_F(Transfer, TicksDuringAMessageBoxDoNotReenterTheStep)
{
    addMeter();
    useDatabase(makeDatabase(128));
    size_t framesDuringBox = 0;
    testhost::onMessageBox([&](const testhost::MessageBoxCall &) {
        for (int i = 0; i < 3; ++i) {
            routeTransferTimer(window, STEP_TIMER);
            routeTransferTimer(window, SETTLE_TIMER);
        }
        framesDuringBox = sim::frames(0).size();
    });
    run();
    EXPECT_EQ(4u, framesDuringBox);
    EXPECT_EQ(4u, sim::frames(0).size());
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
}

// The Transfer command dispatched by a message box's modal loop while a step still runs: the
// step owns the port, so a new transfer must not start only to be closed by it half-way.
TEST_F(Transfer, TransferCommandDuringAStepIsIgnored)
{
    addMeter();
    useDatabase(makeDatabase(300));
    bool nested = false;
    testhost::onMessageBox([&](const testhost::MessageBoxCall &) {
        if (nested)
            return;
        nested = true;
        startTransfer(window);
        tickUntilIdle();
    });
    run();
    EXPECT_EQ(1u, countFrames(frameOf("DATABASE")));
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
    EXPECT_EQ(nullptr, port.handle);
}

// --- The bridge's latency timer -------------------------------------------------------------

// Every reply left the bridge at an expiry of one timer of `periodMs`: all on one grid.
void expectRepliesOnOneGrid(double periodMs)
{
    const std::vector<sim::FrameRecord> &frames = sim::frames(0);
    ASSERT_FALSE(frames.empty());
    for (const sim::FrameRecord &f : frames) {
        double periods = (f.replyReadableMs - frames[0].replyReadableMs) / periodMs;
        EXPECT_NEAR(periods, std::round(periods), 1e-6) << f.replyReadableMs;
    }
}

void useLinkModel()
{
    sim::Link link;
    link.enabled = true;
    sim::setLink(link);   // 16 ms latency timer at open, meter 1 ms a frame
}

// After a frame: the meter's 1 ms, then the reply's wire time.
double replyInChipMs(const sim::FrameRecord &f)
{
    return 1 + static_cast<double>(f.reply.size()) * 10000.0 / 115200;
}

TEST_F(Transfer, LibraryWithTheLatencyFunctionsRunsTheTimerShortForTheTransfer)
{
    installDriver(simLookupWithNames);
    useLinkModel();
    addMeter();
    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
    // Set for the transfer, put back before the port closed.
    EXPECT_EQ((std::vector<int>{TUNED_LATENCY_MS, 16}), sim::port(0).latencySets);
    expectRepliesOnOneGrid(TUNED_LATENCY_MS);
    for (const sim::FrameRecord &f : sim::frames(0)) {
        EXPECT_GE(f.replyReadableMs - f.timeMs, replyInChipMs(f) - 1e-9);
        EXPECT_LE(f.replyReadableMs - f.timeMs, replyInChipMs(f) + TUNED_LATENCY_MS);   // one short period more at most
    }
}

TEST_F(Transfer, FailedTransferPutsTheBridgeBackToo)
{
    installDriver(simLookupWithNames);
    sim::Faults faults;
    faults.nakAtFrame = 3;
    addMeter(faults);
    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    EXPECT_EQ((std::vector<int>{TUNED_LATENCY_MS, 16}), sim::port(0).latencySets);
}

// The window closed mid-transfer ends it through stopTimers: the bridge gets its latency timer
// back, and the port stays open as it always has at exit.
TEST_F(Transfer, StopMidTransferPutsTheLatencyTimerBackWithoutClosing)
{
    installDriver(simLookupWithNames);
    addMeter();
    useDatabase(makeDatabase(1000));
    startTransfer(window);
    routeTransferTimer(window, SETTLE_TIMER);
    for (int i = 0; i < 3; ++i)
        routeTransferTimer(window, STEP_TIMER);
    ASSERT_EQ(3u, sim::frames(0).size());
    stopTimers(window);
    EXPECT_EQ((std::vector<int>{TUNED_LATENCY_MS, 16}), sim::port(0).latencySets);
    EXPECT_NE(nullptr, port.handle);
    EXPECT_TRUE(sim::port(0).open);
}

// A restart whose reload fails stops the running transfer and leaves its port open for the
// next Transfer to close; the bridge is put back at once all the same.
TEST_F(Transfer, RestartWhoseReloadFailsPutsTheLatencyTimerBack)
{
    installDriver(simLookupWithNames);
    addMeter();
    useDatabase(makeDatabase(1000));
    startTransfer(window);
    routeTransferTimer(window, SETTLE_TIMER);
    routeTransferTimer(window, STEP_TIMER);
    testhost::addFile(exePath, std::vector<unsigned char>(5000, 0x90));   // no trailer any more
    startTransfer(window);
    EXPECT_EQ(std::vector<std::string>{"Invalid binary file"}, boxTexts());
    EXPECT_EQ((std::vector<int>{TUNED_LATENCY_MS, 16}), sim::port(0).latencySets);
    EXPECT_NE(nullptr, port.handle);

    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ((std::vector<std::string>{"Invalid binary file", "Transfer Complete!"}), boxTexts());
    EXPECT_EQ((std::vector<int>{TUNED_LATENCY_MS, 16}), sim::port(0).latencySets);   // this open's
}

TEST_F(Transfer, LibraryWithoutThemIsLeftAsItIs)
{
    useLinkModel();
    addMeter();
    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
    EXPECT_TRUE(sim::port(0).latencySets.empty());
    // Every reply waited for the bridge's own 16 ms timer.
    expectRepliesOnOneGrid(16);
}

// --- Failures before any frame --------------------------------------------------------------

TEST_F(Transfer, NoTrailerShowsInvalidBinaryAndFreesTheImage)
{
    addMeter();
    testhost::addFile(exePath, std::vector<unsigned char>(5000, 0x90));
    run();
    EXPECT_EQ(std::vector<std::string>{"Invalid binary file"}, boxTexts());
    EXPECT_EQ(0x2010u, testhost::messageBoxes()[0].type);
    EXPECT_EQ(nullptr, selfImage.buffer);
    EXPECT_EQ(nullptr, port.handle);
}

TEST_F(Transfer, DatabaseOf127BytesIsInvalid)
{
    addMeter();
    useDatabase(makeDatabase(127));
    run();
    EXPECT_EQ(std::vector<std::string>{"Invalid binary file"}, boxTexts());
}

TEST_F(Transfer, NoDeviceShowsUsbPortError)
{
    useDatabase(makeDatabase(300));
    run();
    EXPECT_EQ(std::vector<std::string>{"USB Port Error"}, boxTexts());
    EXPECT_EQ(0, transfer.active);
    EXPECT_NE(nullptr, selfImage.buffer);
}

TEST_F(Transfer, CableShowsNoDevicesFoundAndIsClosed)
{
    sim::DeviceConfig cable;
    cable.role = sim::Role::cable;
    cable.eeprom.description = "FT232R USB UART";
    cable.eeprom.invertDtr = 0;
    sim::addDevice(cable);
    useDatabase(makeDatabase(300));
    run();
    EXPECT_EQ(std::vector<std::string>{"No devices found"}, boxTexts());
    EXPECT_EQ(nullptr, port.handle);
    EXPECT_TRUE(sim::frames(0).empty());
}

TEST_F(Transfer, MissingPortObjectShowsMessageOneAndStartsNothing)
{
    addMeter();
    useDatabase(makeDatabase(300));
    transfer.port = nullptr;
    run();
    EXPECT_EQ(std::vector<std::string>{"Error: Not enough memory to create ComAccess object!"}, boxTexts());
    EXPECT_EQ(0, transfer.active);
    EXPECT_TRUE(testhost::timers().empty());
}

// --- Failures during the transfer -----------------------------------------------------------

TEST_F(Transfer, NakAtABlockStopsWithHandshakeError)
{
    sim::Faults f;
    f.nakAtFrame = 3;
    addMeter(f);
    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    EXPECT_EQ(0x2010u, testhost::messageBoxes()[0].type);
    EXPECT_EQ(4u, sim::frames(0).size());
    EXPECT_EQ(0, transfer.active);
    EXPECT_EQ(0u, testhost::timers().count(STEP_TIMER));
    EXPECT_EQ(nullptr, port.handle);
    EXPECT_FALSE(sim::databaseComplete(0));
}

TEST_F(Transfer, NakToDatabaseCommandStopsAtOnce)
{
    sim::Faults f;
    f.nakAtFrame = 0;
    addMeter(f);
    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    EXPECT_EQ(1u, sim::frames(0).size());
}

TEST_F(Transfer, SilentMeterFailsAfterTwoReadTimeouts)
{
    sim::Faults f;
    f.silentFromFrame = 2;
    addMeter(f);
    useDatabase(makeDatabase(1000));
    startTransfer(window);
    routeTransferTimer(window, SETTLE_TIMER);
    routeTransferTimer(window, STEP_TIMER);
    routeTransferTimer(window, STEP_TIMER);
    double before = sim::nowMs();
    routeTransferTimer(window, STEP_TIMER);
    EXPECT_GE(sim::nowMs() - before, 12000.0);
    EXPECT_LT(sim::nowMs() - before, 12500.0);
    EXPECT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    EXPECT_EQ(0, transfer.active);
    EXPECT_EQ(nullptr, port.handle);
}

TEST_F(Transfer, UnpluggedMidwayIsAHandshakeError)
{
    sim::Faults f;
    f.unplugAtFrame = 5;
    addMeter(f);
    useDatabase(makeDatabase(2000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    EXPECT_EQ(0, transfer.active);
    EXPECT_EQ(nullptr, port.handle);
}

TEST_F(Transfer, ReplyInPiecesStillAcknowledges)
{
    sim::Faults f;
    f.replyPieces = {1, 1};
    addMeter(f);
    std::vector<unsigned char> db = makeDatabase(500);
    useDatabase(db);
    run();
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
}

TEST_F(Transfer, ExtraAcksQueuedByTheMeterDoNotHideALaterNak)
{
    // Frame 1 is answered with four ACKs; frame 2 is NAKed. Read one byte at a time without
    // discarding, the queued ACKs would be taken for frame 2's answer and the NAK lost.
    sim::Faults f;
    f.rawReplyAtFrame = 1;
    f.rawReply = {ACK, ACK, ACK, ACK};
    f.nakAtFrame = 2;
    addMeter(f);
    useDatabase(makeDatabase(1000));
    run();
    EXPECT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    EXPECT_EQ(3u, sim::frames(0).size());
    EXPECT_FALSE(sim::databaseComplete(0));
}

TEST_F(Transfer, JunkAfterAnAckIsNotTakenForTheNextReply)
{
    sim::Faults f;
    f.rawReplyAtFrame = 1;
    f.rawReply = {ACK, NAK, 0x41};
    addMeter(f);
    std::vector<unsigned char> db = makeDatabase(1000);
    useDatabase(db);
    run();
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
}

// --- The END reply --------------------------------------------------------------------------

struct EndCase {
    const char *what;
    std::vector<uint8_t> reply;
    std::vector<std::string> boxes;
};

void PrintTo(const EndCase &c, std::ostream *os) { *os << c.what; }

class EndReply : public Transfer, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndReply, DecidesCompleteOrError)
{
    const EndCase &c = GetParam();
    sim::Faults f;
    f.rawReplyAtFrame = 3;   // DATABASE, block 0, block 1, END
    f.rawReply = c.reply;
    if (c.reply.empty())
        f.silentFromFrame = 3;
    addMeter(f);
    useDatabase(makeDatabase(128));
    run();
    EXPECT_EQ(c.boxes, boxTexts()) << c.what;
    EXPECT_EQ(0, transfer.active);
    EXPECT_EQ(nullptr, port.handle);
    EXPECT_TRUE(testhost::timers().empty());
}

const std::vector<std::string> complete = {"Transfer Complete!"};
const std::vector<std::string> error = {"Transfer Error!"};

INSTANTIATE_TEST_SUITE_P(Variants, EndReply,
    ::testing::Values(
        EndCase{"ack then junk", {0x06, 0x99, 0x99}, complete},
        EndCase{"nak then stx", {0x15, 0x02, 0x00}, complete},
        EndCase{"length seven at byte 2", {0x15, 0x00, 0x07}, complete},
        EndCase{"success after junk", {0x15, 0x00, 0x00, 'S', 'U', 'C', 'C', 'E', 'S', 'S'}, complete},
        EndCase{"other letters", {0x15, 0x00, 0x00, 'F', 'A', 'I', 'L', 'U', 'R', 'E'}, error},
        EndCase{"nak alone", {0x15}, error},
        EndCase{"no answer", {}, error}),
    [](const ::testing::TestParamInfo<EndCase> &info) {
        std::string name;
        for (const char *p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

// --- Restarting -----------------------------------------------------------------------------

TEST_F(Transfer, SecondTransferRestartsFromTheBeginning)
{
    addMeter();
    std::vector<unsigned char> db = makeDatabase(2000);
    useDatabase(db);
    startTransfer(window);
    routeTransferTimer(window, SETTLE_TIMER);
    for (int i = 0; i < 6; ++i)
        routeTransferTimer(window, STEP_TIMER);
    startTransfer(window);
    EXPECT_EQ(0, transfer.stepIndex);
    EXPECT_EQ(0, transfer.progress);
    tickUntilIdle();
    EXPECT_EQ(2u, countFrames(frameOf("DATABASE")));
    EXPECT_EQ(6u + 2000 / 128 + 3, sim::frames(0).size());
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
    EXPECT_EQ(std::vector<std::string>{"Transfer Complete!"}, boxTexts());
}

TEST_F(Transfer, RestartThatFailsEarlyLeavesThePortForTheNextOne)
{
    addMeter();
    std::vector<unsigned char> db = makeDatabase(2000);
    useDatabase(db);
    startTransfer(window);
    routeTransferTimer(window, SETTLE_TIMER);
    routeTransferTimer(window, STEP_TIMER);

    testhost::addFile(exePath, std::vector<unsigned char>(300, 0x90));
    startTransfer(window);
    EXPECT_EQ(std::vector<std::string>{"Invalid binary file"}, boxTexts());
    EXPECT_EQ(0, transfer.active);
    EXPECT_NE(nullptr, port.handle);

    useDatabase(db);
    run();
    EXPECT_EQ(2u, boxTexts().size());
    EXPECT_EQ("Transfer Complete!", boxTexts().back());
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
}

TEST_F(Transfer, NewTransferAfterAFailureWorks)
{
    sim::Faults f;
    f.nakAtFrame = 2;
    addMeter(f);
    std::vector<unsigned char> db = makeDatabase(600);
    useDatabase(db);
    run();
    ASSERT_EQ(std::vector<std::string>{"Error - Handshake not received"}, boxTexts());
    run();
    EXPECT_EQ("Transfer Complete!", boxTexts().back());
    EXPECT_EQ(expectedReceived(db), sim::receivedDatabase(0));
}

}  // namespace
