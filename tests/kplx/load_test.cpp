// kplx load against the simulated meters: what each meter receives, the exit codes from their
// real causes, the choice of meters, retries, Ctrl-C and the JSON report.
#include "load_fixture.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

using namespace kplxtest;
using nlohmann::json;

namespace {

TEST_F(Load, RawDatabaseGivesTheSameFramesAsThePackedFile)
{
    config(meter("KP000001"));
    Ran r = kplx({"load", packed});
    ASSERT_EQ(0, r.code) << r.err;
    std::vector<std::string> fromPacked = frameLog(dir / "KP000001.frames");
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));

    r = kplx({"load", "--raw", rawDb});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_EQ(550u, fromPacked.size());
    EXPECT_EQ(fromPacked, frameLog(dir / "KP000001.frames"));
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
}

// --- Exit codes, each from its real cause --------------------------------------------------

struct ExitCase {
    const char *what;
    std::string config;
    std::vector<std::string> args;   // after "load"; FILE is added unless a file is given
    int code;
    const char *says;                // on stderr
};

TEST_F(Load, EachExitCodeComesFromItsCause)
{
    writeFile(dir / "short.db", pattern(127, 2));
    writeFile(dir / "plain.exe", pattern(4000, 3));
    writeFile(dir / "beyond.exe", withTrailer(pattern(300, 4), 301));
    const std::string end = std::to_string(548 + 1);
    const std::vector<ExitCase> cases = {
        {"healthy meter", "device meter\n", {}, 0, ""},
        {"unknown option", "device meter\n", {"--bogus"}, 1, "--bogus"},
        {"several meters, none chosen", "device meter\ndevice meter\n", {}, 1, "KP000001, KP000002"},
        {"missing file", "device meter\n", {(dir / "absent.exe").string()}, 2, "absent.exe"},
        {"no trailer", "device meter\n", {(dir / "plain.exe").string()}, 2, "no \"DATA\" trailer"},
        {"database under 128 bytes", "device meter\n", {"--raw", (dir / "short.db").string()}, 2, "at least 128"},
        {"size beyond the file", "device meter\n", {(dir / "beyond.exe").string()}, 2, "larger than the file"},
        {"only a cable", "device cable\n", {}, 3, "no meter attached"},
        {"named serial absent", "device meter\n", {"-s", "KP999999"}, 3, "KP999999"},
        {"named device not a meter", "device cable\n", {"-s", "FT000001"}, 3, "not a meter"},
        {"EEPROM unreadable", "device meter\neeprom-fail\n", {"-s", "KP000001"}, 3, "EEPROM cannot be read"},
        {"port will not open", "device meter\nopen-fail\n", {"-s", "KP000001"}, 4, "another program has it open"},
        {"NAK", "device meter\nnak-at 42\n", {}, 5, "NAK to block 42 of 548"},
        {"garbage", "device meter\nraw-at 7 41\n", {}, 5, "0x41 instead of ACK to block 7"},
        {"silence", "clock virtual\ndevice meter\nsilent-from 0\n", {}, 5, "stopped answering at the DATABASE command"},
        {"END not confirmed", "device meter\nraw-at " + end + " 15 00 00 41 42 43 44 45 46 47\n", {}, 6,
         "did not confirm the end"},
        {"unplugged", "device meter\nunplug-at 100\n", {}, 7, "unplugged at block 100 of 548"},
        {"one of two fails", "device meter\ndevice meter\nnak-at 3\n", {"--all"}, 8, "KP000002"},
    };
    for (const ExitCase &c : cases) {
        config(c.config);
        std::vector<std::string> args{"load"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        bool fileGiven = false;
        for (const std::string &a : c.args)
            fileGiven |= a.find('/') != std::string::npos;
        if (!fileGiven)
            args.push_back(packed);
        Ran r = kplx(args);
        EXPECT_EQ(c.code, r.code) << c.what << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.says)) << c.what << ": " << r.err;
        if (c.code != 0 && c.code != 8)
            EXPECT_EQ(std::string::npos, r.out.find("loaded")) << c.what;
    }
}

// --- Which meters -------------------------------------------------------------------------

class ThreeMetersAndACable : public Load {
protected:
    void SetUp() override
    {
        Load::SetUp();
        config(meter("KP000001") + meter("KP000002") + "device cable\nserial FT000003\n" + meter("KP000004"));
    }
    // Every device's log is written whenever a port closes; only a loaded one has frames.
    bool received(const std::string &serial) const { return !readFile(dir / (serial + ".frames")).empty(); }
};

TEST_F(ThreeMetersAndACable, SerialPicksThatMeterOnly)
{
    Ran r = kplx({"load", "-s", "KP000002", packed});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_TRUE(received("KP000002"));
    EXPECT_FALSE(received("KP000001"));
    EXPECT_FALSE(received("KP000004"));
    EXPECT_EQ(keptSample(), readFile(dir / "KP000002.db"));
}

TEST_F(ThreeMetersAndACable, AllLoadsTheMetersAndSkipsTheCable)
{
    Ran r = kplx({"load", "--all", packed});
    ASSERT_EQ(0, r.code) << r.err;
    for (const char *serial : {"KP000001", "KP000002", "KP000004"}) {
        EXPECT_EQ(keptSample(), readFile(dir / (std::string(serial) + ".db"))) << serial;
        EXPECT_NE(std::string::npos, r.out.find(std::string(serial) + ": loaded 70085 bytes")) << r.out;
    }
    EXPECT_NE(std::string::npos, r.out.find("FT000003: skipped, not a meter")) << r.out;
}

TEST_F(ThreeMetersAndACable, NoChoiceRefusesAndListsTheMeters)
{
    Ran r = kplx({"load", packed});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find("KP000001, KP000002, KP000004")) << r.err;
    EXPECT_FALSE(received("KP000001") || received("KP000002") || received("KP000004"));
}

// --- Retries and the JSON report ------------------------------------------------------------

TEST_F(Load, NakOnceWithOneRetryCompletesOnTheSecondAttempt)
{
    // Scaled time: the wait for the meter's silence before the retry is a whole read timeout.
    config("time-scale 0.01\n" + meter("KP000001", "nak-at 42\n"));
    Ran r = kplx({"load", "--retries", "1", "--json", packed});
    ASSERT_EQ(0, r.code) << r.err;
    json doc = json::parse(r.out);
    ASSERT_EQ(2u, doc["meters"][0]["attempts"].size());
    EXPECT_EQ("ok", doc["meters"][0]["result"]);
    EXPECT_NE(std::string::npos, r.err.find("attempt 1 of 2 failed: the meter answered NAK to block 42")) << r.err;

    std::vector<std::string> frames = frameLog(dir / "KP000001.frames");
    ASSERT_EQ(43u + 550u, frames.size());
    EXPECT_EQ(frames[0], frames[43]);   // "DATABASE" again
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
}

TEST_F(Load, JsonHoldsWhatTheRunDid)
{
    config(meter("KP000001") + meter("KP000002", "nak-at 3\n"));
    Ran r = kplx({"load", "--all", "--json", packed});
    EXPECT_EQ(8, r.code);
    json doc = json::parse(r.out);   // stdout is the document and nothing else
    EXPECT_EQ(packed, doc["file"]);
    EXPECT_EQ(70085, doc["databaseBytes"]);
    EXPECT_EQ(548, doc["blocks"]);
    EXPECT_EQ(8, doc["exitCode"]);
    ASSERT_EQ(2u, doc["meters"].size());
    const json &ok = doc["meters"][0];
    EXPECT_EQ("KP000001", ok["serial"]);
    EXPECT_EQ("ok", ok["result"]);
    EXPECT_EQ(550, ok["framesSent"]);
    ASSERT_EQ(1u, ok["attempts"].size());
    EXPECT_EQ("ok", ok["attempts"][0]["result"]);
    EXPECT_EQ(550, ok["attempts"][0]["framesSent"]);
    EXPECT_GE(ok["seconds"].get<double>(), 0.0);
    const json &failed = doc["meters"][1];
    EXPECT_EQ("handshake", failed["result"]);
    EXPECT_EQ(4, failed["framesSent"]);
    EXPECT_NE(std::string::npos, failed["message"].get<std::string>().find("NAK to block 3 of 548"));
}

TEST_F(Load, JsonDocumentAlsoComesForAFileThatCannotBeLoaded)
{
    Ran r = kplx({"load", "--json", (dir / "absent.exe").string()});
    EXPECT_EQ(2, r.code);
    json doc = json::parse(r.out);
    EXPECT_EQ(2, doc["exitCode"]);
    EXPECT_TRUE(doc["databaseBytes"].is_null());
    EXPECT_TRUE(doc["meters"].empty());
    EXPECT_NE(std::string::npos, doc["error"].get<std::string>().find("absent.exe"));
}

// --- Ctrl-C ----------------------------------------------------------------------------------

TEST_F(Load, InterruptFinishesTheFrameInFlightAndClosesEveryPort)
{
    // Real time: about 28 ms a frame, so the load is still running when the signal comes.
    config("link latency-ms 16 process-ms 1\n" + meter("KP000001") + meter("KP000002"));
    pid_t pid = start({"load", "--all", packed});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // Both past 10 %: the stop reaches each meter at once, not at the next redraw.
    while ((readText(dir / "run.out").find("KP000001:  10%") == std::string::npos ||
            readText(dir / "run.out").find("KP000002:  10%") == std::string::npos) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGINT);
    Ran r = finish(pid);
    EXPECT_EQ(130, r.code) << r.err;
    for (const std::string serial : {"KP000001", "KP000002"}) {
        size_t at = r.err.find(serial + ": interrupted at block ");
        ASSERT_NE(std::string::npos, at) << r.err;
        unsigned block = static_cast<unsigned>(std::stoul(r.err.substr(at + serial.size() + 23)));
        EXPECT_GE(block, 55u);
        // The simulator writes a device's frame log when its port is closed. DATABASE and the
        // acknowledged blocks, and no frame left unanswered.
        EXPECT_EQ(block + 1, frameLog(dir / (serial + ".frames")).size()) << serial;
    }
}

}  // namespace
