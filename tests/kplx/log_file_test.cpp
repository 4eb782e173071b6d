// The pieces of kplx's load log: the database's SHA-256, and a file that several processes
// append whole lines to at once.
#include "kplx/platform/append_file.h"
#include "kplx/platform/sha256.h"
#include "kplx/platform/station.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

namespace fs = std::filesystem;
using kplx::platform::AppendFile;

namespace {

TEST(Sha256, KnownDigests)
{
    // FIPS 180-2's examples.
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", kplx::platform::sha256Hex(nullptr, 0));
    const std::string abc = "abc";
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
              kplx::platform::sha256Hex(reinterpret_cast<const uint8_t *>(abc.data()), abc.size()));
}

TEST(StationClock, TimestampIsUtcWithMilliseconds)
{
    EXPECT_TRUE(std::regex_match(kplx::platform::utcTimestamp(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
}

class AppendLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/kplx-log-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(name));
        dir = name;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(AppendLog, LinesFromProcessesWritingAtOnceStayWhole)
{
    const std::string path = (dir / "bench.jsonl").string();
    constexpr int kProcesses = 4, kLines = 200;
    for (int p = 0; p < kProcesses; ++p) {
        if (fork() == 0) {
            AppendFile log;
            std::string error;
            if (!log.open(path, error))
                _exit(1);
            // Lines longer than a pipe's atomic size, so that only the append makes them whole.
            const std::string filler(5000, static_cast<char>('a' + p));
            for (int i = 0; i < kLines; ++i)
                if (!log.append(std::to_string(p) + " " + std::to_string(i) + " " + filler + "\n", error))
                    _exit(2);
            _exit(0);
        }
    }
    for (int p = 0; p < kProcesses; ++p) {
        int status = 0;
        wait(&status);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::ifstream in(path);
    std::map<int, int> next;
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        int p = -1, i = -1;
        char filler[5001] = {};
        ASSERT_EQ(3, std::sscanf(line.c_str(), "%d %d %5000s", &p, &i, filler)) << line.substr(0, 40);
        ASSERT_EQ(std::string(5000, static_cast<char>('a' + p)), filler);
        EXPECT_EQ(next[p]++, i);   // each process's lines in its own order
    }
    EXPECT_EQ(kProcesses * kLines, count);
}

TEST_F(AppendLog, ARunRefusesWhatItCannotAppendTo)
{
    AppendFile log;
    std::string error;
    EXPECT_FALSE(log.open((dir / "no" / "such" / "folder.jsonl").string(), error));
    EXPECT_NE(std::string::npos, error.find("cannot open")) << error;
    EXPECT_FALSE(log.open(dir.string(), error));   // a directory
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_FALSE(log.open(fifo.string(), error));   // and does not block on it
    if (geteuid() != 0) {
        const fs::path readOnly = dir / "ro.jsonl";
        std::ofstream(readOnly).put('\n');
        fs::permissions(readOnly, fs::perms::owner_read);
        EXPECT_FALSE(log.open(readOnly.string(), error));
    }
}

}  // namespace
