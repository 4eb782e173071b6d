// kplx ended early, through the simulator backend: SIGHUP, a closed pipe, Ctrl-C once and
// twice, a stop before any device is touched, list interrupted; and retries. Whatever ends it, the
// bridge's latency timer and event character are put back (the meter's port-out).
#include "load_fixture.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <iterator>
#include <sstream>
#include <thread>

using namespace kplxtest;
using nlohmann::json;

namespace {

// Waits until `file` holds `text` (the run's own output, so at most the length of the load).
void waitForText(const fs::path &file, const std::string &text)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (readText(file).find(text) == std::string::npos && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The block kplx names in "<serial>: interrupted at block N of ...".
unsigned interruptedAt(const std::string &err, const std::string &serial)
{
    const std::string marker = serial + ": interrupted at block ";
    size_t at = err.find(marker);
    return at == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(err.substr(at + marker.size())));
}

const char kFirstCtrlC[] =
    "kplx: stopping: finishing the frame in flight (at most 12 s); press Ctrl-C again to abandon it\n";

// A load that takes seconds in real time: the bridge's 16 ms timer and the meter's 1 ms a frame.
const char kSlowLink[] = "link latency-ms 16 process-ms 1\n";

class Signals : public Load {
protected:
    // The bridge as kplx found it: the latency timer set to 2 ms and back to 16.
    void expectBridgePutBack(const std::string &serial)
    {
        EXPECT_EQ("2 16", latencySets(dir / (serial + ".calls"))) << serial;
    }

    // The child starts with `signal` already pending: kplx sees it as soon as it watches.
    void pendingAtStart(int signal)
    {
        inChild = [signal] {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, signal);
            sigprocmask(SIG_BLOCK, &set, nullptr);
            raise(signal);
        };
    }
};

// --- SIGHUP: an SSH session dropping ---------------------------------------------------------

TEST_F(Signals, HangupMidLoadFinishesTheFrameRestoresTheBridgeAndExits130)
{
    config(kSlowLink + meter("KP000001"));
    pid_t pid = start({"load", packed});
    waitForText(dir / "run.out", "KP000001:  10%");
    kill(pid, SIGHUP);
    Ran r = finish(pid);
    EXPECT_EQ(130, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("kplx: stopping on SIGHUP: finishing the frame in flight")) << r.err;
    unsigned block = interruptedAt(r.err, "KP000001");
    EXPECT_GE(block, 55u) << r.err;
    // DATABASE and the acknowledged blocks: the frame in flight was answered, none went after it.
    EXPECT_EQ(block + 1, frameLog(dir / "KP000001.frames").size());
    expectBridgePutBack("KP000001");
}

// --- SIGPIPE: kplx | tee, and tee goes away ---------------------------------------------------

struct ClosedPipeCase {
    const char *what;
    int signal;   // sent once the pipe is closed (0: none)
    int code;
};

TEST_F(Signals, ClosedPipeOnStdoutStopsTheOutputNotTheLoad)
{
    const ClosedPipeCase cases[] = {
        {"the reader went away", 0, 0},
        {"Ctrl-C ended the reader and kplx", SIGINT, 130},
    };
    for (const ClosedPipeCase &c : cases) {
        config(kSlowLink + meter("KP000001"));
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        inChild = [fds] {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
        };
        pid_t pid = start({"load", packed});
        close(fds[1]);
        std::string seen;
        char chunk[256];
        ssize_t n = 0;
        while (seen.find("KP000001:  10%") == std::string::npos && (n = read(fds[0], chunk, sizeof chunk)) > 0)
            seen.append(chunk, static_cast<size_t>(n));
        close(fds[0]);   // every later write to stdout fails with EPIPE
        if (c.signal != 0)
            kill(pid, c.signal);
        Ran r = finish(pid);
        EXPECT_EQ(c.code, r.code) << c.what << "\n" << r.err;
        if (c.code == 0) {
            EXPECT_EQ(550u, frameLog(dir / "KP000001.frames").size()) << c.what;
            EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db")) << c.what;
        } else {
            EXPECT_NE(0u, interruptedAt(r.err, "KP000001")) << c.what << "\n" << r.err;
        }
        expectBridgePutBack("KP000001");
    }
}

// --- Ctrl-C once, and twice ------------------------------------------------------------------

TEST_F(Signals, FirstCtrlCSaysOnceHowLongTheFrameInFlightMayTake)
{
    config(kSlowLink + meter("KP000001") + meter("KP000002"));
    pid_t pid = start({"load", "--all", packed});
    waitForText(dir / "run.out", "KP000002:  10%");
    kill(pid, SIGINT);
    Ran r = finish(pid);
    EXPECT_EQ(130, r.code) << r.err;
    EXPECT_EQ(1u, count(r.err, kFirstCtrlC)) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("kplx: abandoning")) << r.err;
    // The line comes before the meters' own reports.
    EXPECT_LT(r.err.find(kFirstCtrlC), r.err.find("KP000001: interrupted at block ")) << r.err;
}

TEST_F(Signals, SecondCtrlCGivesUpASilentMetersWaitButStillPutsTheBridgeBack)
{
    // Ten blocks; the meter answers DATABASE and blocks 1 and 2, then nothing: kplx would wait
    // two read timeouts of 6 s for block 3's reply.
    const fs::path small = dir / "small.db";
    writeFile(small, pattern(9 * 128 + 118, 3));
    config(meter("KP000001", "silent-from 3\n"));
    pid_t pid = start({"load", "--raw", small.string()});
    waitForText(dir / "run.out", "KP000001:  20%");   // block 2 answered, so block 3 is next
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGINT);
    waitForText(dir / "run.err", kFirstCtrlC);
    kill(pid, SIGINT);
    Ran r = finish(pid);
    EXPECT_EQ(130, r.code) << r.err;
    const size_t first = r.err.find(kFirstCtrlC), second = r.err.find("kplx: abandoning the frame in flight"),
                 report = r.err.find("KP000001: interrupted: gave up waiting for the reply to block 3 of 10");
    ASSERT_NE(std::string::npos, report) << r.err;
    EXPECT_LT(first, second) << r.err;
    EXPECT_LT(second, report) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("stopped answering")) << r.err;
    std::vector<std::string> frames = frameLog(dir / "KP000001.frames");
    EXPECT_EQ(4u, frames.size());   // DATABASE, blocks 1 to 3, nothing after the unanswered one
    expectBridgePutBack("KP000001");
}

// --- A stop before anything is sent ----------------------------------------------------------

TEST_F(Signals, StopBeforeKplxTouchesADeviceSendsNothing)
{
    config(meter("KP000001"));
    pendingAtStart(SIGINT);
    Ran r = kplx({"load", "--json", packed});
    EXPECT_EQ(130, r.code) << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(130, doc["exitCode"]);
    EXPECT_TRUE(doc["meters"].empty());
    EXPECT_NE(std::string::npos, doc["error"].get<std::string>().find("interrupted before any device was opened"));
    // The meter was never opened: it logged no frame and its bridge was left alone.
    EXPECT_TRUE(frameLog(dir / "KP000001.frames").empty());
    EXPECT_EQ("", latencySets(dir / "KP000001.calls"));
}

TEST_F(Signals, ListInterruptedListsNothingAndExits130)
{
    config(meter("KP000001") + "device cable\n");
    pendingAtStart(SIGINT);
    Ran r = kplx({"list", "--json"});
    EXPECT_EQ(130, r.code) << r.err;
    EXPECT_EQ("", r.out);   // a partial list would pass for the whole one
    EXPECT_NE(std::string::npos, r.err.find("kplx: interrupted after 0 of 2 devices; nothing listed")) << r.err;
}

// --- Retries ---------------------------------------------------------------------------------

TEST_F(Signals, RetryWaitsUntilTheMeterHasFallenSilent)
{
    // The meter answers block 42 with 250 bytes of garbage, still coming down the wire when
    // kplx has read the first. Started at once, DATABASE would meet the rest as its reply.
    std::string garbage;
    for (int i = 0; i < 250; ++i)
        garbage += " 41";
    config("time-scale 0.1\nlink latency-ms 16 process-ms 1\n" + meter("KP000001", "raw-at 42" + garbage + "\n"));
    Ran r = kplx({"load", "--retries", "1", "--json", packed});
    ASSERT_EQ(0, r.code) << r.err;
    json attempts = json::parse(r.out)["meters"][0]["attempts"];
    ASSERT_EQ(2u, attempts.size()) << attempts;
    EXPECT_EQ("handshake", attempts[0]["result"]);
    EXPECT_EQ("the meter answered 0x41 instead of ACK to block 42 of 548", attempts[0]["message"]);
    EXPECT_EQ(43, attempts[0]["framesSent"]);
    EXPECT_GE(attempts[0]["seconds"].get<double>(), 0.0);
    EXPECT_EQ("ok", attempts[1]["result"]);
    EXPECT_EQ("loaded 70085 bytes in 548 blocks", attempts[1]["message"]);
    EXPECT_EQ(550, attempts[1]["framesSent"]);
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));

    // In the meter's own (simulated) milliseconds: DATABASE again no sooner than a whole read
    // timeout after the last of the garbage was there to read.
    std::ifstream log(dir / "KP000001.frames");
    std::vector<std::vector<std::string>> frames;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        frames.emplace_back(std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>());
    }
    ASSERT_EQ(43u + 550u, frames.size());
    EXPECT_EQ(frames[0][2], frames[43][2]);
    const double garbageReadable = std::stod(frames[42][3]), databaseAgain = std::stod(frames[43][4]);
    EXPECT_GE(databaseAgain - garbageReadable, 6000.0);
}

TEST_F(Signals, LoadThatNeededARetrySaysSoInItsSummaryLine)
{
    config("time-scale 0.01\n" + meter("KP000001", "nak-at 42\n"));
    Ran r = kplx({"load", "--retries", "2", packed});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("KP000001: loaded 70085 bytes in 548 blocks, ")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(" s, after 2 attempts (attempt 1: the meter answered NAK to block 42 of 548)\n"))
        << r.out;
}

}  // namespace
