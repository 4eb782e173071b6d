// What a load leaves on record and what it refuses before touching a meter, through the
// simulator backend: the log's lines (shared by two kplx at once), a dry run, --wait, --expect
// and --jobs.
#include "kplx/platform/sha256.h"
#include "load_fixture.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <regex>

using namespace kplxtest;
using nlohmann::json;

namespace {

class Record : public Load {
protected:
    std::string sampleSha256() const { return kplx::platform::sha256Hex(sample.data(), sample.size()); }

    size_t count(const std::vector<std::string> &frames, const std::string &payload)
    {
        std::string hex;
        char two[3];
        for (unsigned char c : payload) {
            std::snprintf(two, sizeof two, "%02X", c);
            hex += two;
        }
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(), [&](const std::string &f) {
            return f.find(hex) == 4;   // after STX and LEN
        }));
    }
};

TEST_F(Record, LogHasALinePerMeterWithTheDatabaseAndWhatBecameOfIt)
{
    config(meter("KP000001") + meter("KP000002", "eeprom-fail\n"));
    const fs::path log = dir / "bench.jsonl";
    Ran r = kplx({"load", "--all", "--log", log.string(), "--station", "bench-7", packed});
    EXPECT_EQ(8, r.code) << r.err;
    std::vector<json> lines = logLines(log);
    ASSERT_EQ(2u, lines.size());
    std::sort(lines.begin(), lines.end(), [](const json &a, const json &b) { return a["serial"] < b["serial"]; });
    const json &ok = lines[0], &refused = lines[1];
    EXPECT_TRUE(std::regex_match(ok["time"].get<std::string>(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    EXPECT_EQ("bench-7", ok["station"]);
    EXPECT_EQ("1.0.0", ok["kplxVersion"]);
    EXPECT_EQ(packed, ok["file"]);
    EXPECT_EQ(70085, ok["databaseBytes"]);
    EXPECT_EQ(sampleSha256(), ok["databaseSha256"]);
    EXPECT_EQ("KP000001", ok["serial"]);
    EXPECT_EQ("KPLX Meter V2.10", ok["meterVersion"]);   // asked before the load
    EXPECT_EQ("ok", ok["result"]);
    ASSERT_EQ(1u, ok["attempts"].size());
    EXPECT_EQ(550, ok["attempts"][0]["framesSent"]);
    EXPECT_EQ(2, ok["latencyMs"]);
    EXPECT_EQ(false, ok["dryRun"]);
    // The candidate that could not be checked is on record too.
    EXPECT_EQ("KP000002", refused["serial"]);
    EXPECT_EQ("not-a-meter", refused["result"]);
    EXPECT_TRUE(refused["meterVersion"].is_null());
    // The VERSION frame went out before DATABASE.
    const std::vector<std::string> frames = frameLog(dir / "KP000001.frames");
    ASSERT_EQ(551u, frames.size());
    EXPECT_EQ(1u, count({frames[0]}, "VERSION"));
    EXPECT_EQ(1u, count({frames[1]}, "DATABASE"));
}

TEST_F(Record, TwoKplxAppendingToOneLogAtOnceLeaveEveryLineWhole)
{
    const fs::path log = dir / "shared.jsonl";
    writeText(dir / "a.cfg", "time-scale 0.05\nlink latency-ms 2 process-ms 1\n" + meter("KA000001") + meter("KA000002"));
    writeText(dir / "b.cfg", "time-scale 0.05\nlink latency-ms 2 process-ms 1\n" + meter("KB000001") + meter("KB000002"));
    environment = {{"KPLX_SIM_CONFIG", (dir / "a.cfg").string()}};
    pid_t a = start({"load", "--all", "--log", log.string(), packed}, "a");
    environment = {{"KPLX_SIM_CONFIG", (dir / "b.cfg").string()}};
    pid_t b = start({"load", "--all", "--log", log.string(), packed}, "b");
    EXPECT_EQ(0, finish(a, "a").code);
    EXPECT_EQ(0, finish(b, "b").code);
    std::vector<std::string> serials;
    for (const json &line : logLines(log)) {
        serials.push_back(line["serial"]);
        EXPECT_EQ(sampleSha256(), line["databaseSha256"]);
    }
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ((std::vector<std::string>{"KA000001", "KA000002", "KB000001", "KB000002"}), serials);
}

TEST_F(Record, LogThatCannotBeWrittenStopsKplxBeforeAnyLoad)
{
    config(meter("KP000001"));
    for (const fs::path &log : {dir / "no-such-folder" / "log.jsonl", dir}) {
        Ran r = kplx({"load", "--log", log.string(), packed});
        EXPECT_EQ(2, r.code) << log;
        EXPECT_NE(std::string::npos, r.err.find("--log")) << r.err;
        EXPECT_TRUE(frameLog(dir / "KP000001.frames").empty()) << log;
    }
}

TEST_F(Record, DryRunChecksAndAsksButSendsNoDatabase)
{
    config(meter("KP000001") + meter("KP000002"));
    const fs::path log = dir / "dry.jsonl";
    Ran r = kplx({"load", "--all", "--dry-run", "--json", "--log", log.string(), packed});
    ASSERT_EQ(0, r.code) << r.err;
    json doc = json::parse(r.out);
    EXPECT_EQ(true, doc["dryRun"]);
    EXPECT_EQ(sampleSha256(), doc["databaseSha256"]);
    for (const json &m : doc["meters"]) {
        EXPECT_EQ("would-load", m["result"]);
        EXPECT_EQ("KPLX Meter V2.10", m["meterVersion"]);
        EXPECT_TRUE(m["attempts"].empty());
    }
    for (const std::string serial : {"KP000001", "KP000002"}) {
        const std::vector<std::string> frames = frameLog(dir / (serial + ".frames"));
        EXPECT_EQ(1u, frames.size()) << serial;   // VERSION, nothing else
        EXPECT_EQ(0u, count(frames, "DATABASE")) << serial;
    }
    for (const json &line : logLines(log)) {
        EXPECT_EQ(true, line["dryRun"]);
        EXPECT_EQ("would-load", line["result"]);
    }

    // Its exit code is a load's: a named cable is still not a meter.
    config(meter("KP000001") + "device cable\n");
    EXPECT_EQ(3, kplx({"load", "--dry-run", "-s", "FT000002", packed}).code);
}

TEST_F(Record, WaitEndsWithExit3NamingWhatIsMissing)
{
    config(meter("KP000001"));
    Ran r = kplx({"load", "-s", "KP000001", "-s", "KP000002", "--wait", "0.3", packed});
    EXPECT_EQ(3, r.code);
    EXPECT_NE(std::string::npos, r.err.find("waited 0.3 s and still missing serial number KP000002")) << r.err;
    EXPECT_TRUE(frameLog(dir / "KP000001.frames").empty());

    r = kplx({"load", "--all", "--expect", "2", "--wait", "0.3", packed});
    EXPECT_EQ(3, r.code);
    EXPECT_NE(std::string::npos, r.err.find("still missing 2 meters (1 attached)")) << r.err;

    // What is there already needs no waiting.
    EXPECT_EQ(0, kplx({"load", "-s", "KP000001", "--wait", "30", packed}).code);
}

TEST_F(Record, ExpectRefusesToLoadFewerMeters)
{
    config(meter("KP000001") + meter("KP000002") + meter("KP000003", "eeprom-fail\n"));
    Ran r = kplx({"load", "--all", "--expect", "3", packed});
    EXPECT_EQ(3, r.code);
    EXPECT_NE(std::string::npos, r.err.find("found 2 meters that can be loaded, --expect 3: nothing loaded")) << r.err;
    for (const std::string serial : {"KP000001", "KP000002"})
        EXPECT_EQ(0u, count(frameLog(dir / (serial + ".frames")), "DATABASE")) << serial;
    EXPECT_EQ(8, kplx({"load", "--all", "--expect", "2", packed}).code);   // two loaded, the third failed
}

TEST_F(Record, JobsLimitHowManyTransfersRunAtOnce)
{
    // Each load takes a while in real time; with one slot the second starts when the first ends.
    config("time-scale 0.05\nlink latency-ms 2 process-ms 1\n" + meter("KP000001") + meter("KP000002"));
    Ran r = kplx({"load", "--all", "--jobs", "1", packed});
    ASSERT_EQ(0, r.code) << r.err;
    auto span = [&](const std::string &serial) {
        std::ifstream in(dir / (serial + ".frames"));
        double end = 0, readable = 0, first = 0, start = -1;
        std::string valid, hex, reply;
        while (in >> end >> valid >> hex >> readable >> first >> reply)
            start = start < 0 ? first : start;
        return std::make_pair(start, readable);
    };
    auto a = span("KP000001"), b = span("KP000002");
    EXPECT_TRUE(a.second <= b.first || b.second <= a.first) << a.first << "-" << a.second << " " << b.first << "-" << b.second;
}

TEST_F(Record, InfoGivesTheDatabasesDigest)
{
    Ran r = kplx({"info", packed});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("database sha256: " + sampleSha256() + "\n")) << r.out;
}

}  // namespace
