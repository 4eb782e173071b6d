// What kplx load, info and pack accept as a file: regular files only, refused with the reason
// and exit 2 before anything blocks, eats memory or reaches a meter; and sizes checked before
// reading.
#include "load_fixture.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

using namespace kplxtest;

namespace {

// What kplx would do forever when it opens a FIFO blocking, or reads /dev/zero to its end.
constexpr auto kHangGuard = std::chrono::seconds(60);

class FileKinds : public Load {
protected:
    void SetUp() override
    {
        Load::SetUp();
        config(meter("KP000001"));
        fifo = dir / "fifo";
        ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
        fs::create_directory(dir / "folder");
    }

    // Runs kplx; one that has not ended by the guard is killed, and the test fails.
    Ran kplxEnding(const std::vector<std::string> &args)
    {
        const pid_t pid = start(args);
        const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "kplx " << args[0] << " " << args.back() << " did not end";
                return Ran{};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Ran r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readText(dir / "run.out");
        r.err = readText(dir / "run.err");
        return r;
    }

    bool meterReceivedAnything() const { return !readFile(dir / "KP000001.frames").empty(); }

    fs::path fifo;
};

struct NotAFile {
    const char *what;
    std::string path;
    const char *reason;
};

std::vector<NotAFile> notFiles(const fs::path &dir)
{
    return {
        {"directory", (dir / "folder").string(), "is a directory"},
        {"FIFO with no writer", (dir / "fifo").string(), "is a FIFO, not a regular file"},
        {"endless device", "/dev/zero", "is a character device"},
        {"missing file", (dir / "absent.exe").string(), "No such file or directory"},
    };
}

TEST_F(FileKinds, LoadRefusesAnythingButARegularFileWithTheReason)
{
    for (const NotAFile &c : notFiles(dir)) {
        for (const char *mode : {"packed", "--raw"}) {
            std::vector<std::string> args{"load"};
            if (std::string(mode) == "--raw")
                args.push_back("--raw");
            args.push_back(c.path);
            const Ran r = kplxEnding(args);
            EXPECT_EQ(2, r.code) << c.what << " " << mode << "\n" << r.err;
            EXPECT_NE(std::string::npos, r.err.find("'" + c.path + "'")) << r.err;
            EXPECT_NE(std::string::npos, r.err.find(c.reason)) << c.what << ": " << r.err;
        }
    }
    EXPECT_FALSE(meterReceivedAnything());
}

TEST_F(FileKinds, InfoRefusesAnythingButARegularFileWithTheReason)
{
    for (const NotAFile &c : notFiles(dir)) {
        const Ran r = kplxEnding({"info", c.path});
        EXPECT_EQ(2, r.code) << c.what << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.reason)) << c.what << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

TEST_F(FileKinds, PackRefusesEitherInputThatIsNotARegularFile)
{
    const std::string output = (dir / "out.exe").string();
    for (const NotAFile &c : notFiles(dir)) {
        for (bool asUtility : {true, false}) {
            const Ran r = asUtility ? kplxEnding({"pack", c.path, rawDb, "-o", output})
                                    : kplxEnding({"pack", packed, c.path, "-o", output});
            EXPECT_EQ(2, r.code) << c.what << (asUtility ? " as UTILITY\n" : " as DATABASE\n") << r.err;
            EXPECT_NE(std::string::npos, r.err.find(asUtility ? "utility '" : "database '")) << r.err;
            EXPECT_NE(std::string::npos, r.err.find(c.reason)) << c.what << ": " << r.err;
        }
    }
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(FileKinds, LinkToARegularFileIsThatFile)
{
    fs::create_symlink(packed, dir / "link.exe");
    const Ran r = kplxEnding({"info", (dir / "link.exe").string()});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("database size: 70085 bytes")) << r.out;
}

// Sparse files: the sizes cost no disk, and reading them would cost gigabytes of memory.
TEST_F(FileKinds, FileLargerThanAPackedUtilityCanBeIsRefusedBeforeReading)
{
    const uint64_t limit = (uint64_t{64} << 20) + 0xFFFFFFFFu + 8;
    const fs::path big = dir / "big.exe";
    writeFile(big, withTrailer(pattern(200, 1), 128));
    fs::resize_file(big, limit + 1);
    for (const char *command : {"load", "info"}) {
        const Ran r = kplxEnding({command, big.string()});
        EXPECT_EQ(2, r.code) << command << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find("more than a packed utility can have")) << r.err;
    }
    EXPECT_FALSE(meterReceivedAnything());
}

TEST_F(FileKinds, FileAtTheLimitIsReadForItsTrailer)
{
    // One byte under the refusal: the size is allowed, and the verdict comes from the trailer.
    const uint64_t limit = (uint64_t{64} << 20) + 0xFFFFFFFFu + 8;
    const fs::path big = dir / "big.exe";
    writeFile(big, {});
    fs::resize_file(big, limit);
    const Ran r = kplxEnding({"info", big.string()});
    EXPECT_EQ(2, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("no \"DATA\" trailer")) << r.err;
}

TEST_F(FileKinds, RawDatabaseBeyondThe32BitSizeIsRefusedBeforeReading)
{
    const fs::path big = dir / "big.db";
    writeFile(big, {});
    fs::resize_file(big, uint64_t{0x100000000});
    const Ran r = kplxEnding({"load", "--raw", big.string()});
    EXPECT_EQ(2, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("too large for the trailer's 32-bit size")) << r.err;
    EXPECT_FALSE(meterReceivedAnything());
}

TEST_F(FileKinds, PackedFileSendsTheSameDatabaseWhateverTheUtilityBeforeIt)
{
    // Only the database and its trailer are read from a packed file: a utility of a different
    // size in front must not shift a single byte the meter keeps.
    Bytes exe = pattern(130, 9);
    exe.insert(exe.end(), sample.begin(), sample.end());
    writeFile(dir / "other.exe", withTrailer(exe, 70085));
    const Ran r = kplxEnding({"load", (dir / "other.exe").string()});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
}

}  // namespace
