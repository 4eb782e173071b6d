// Runs the built kplx-pack as a user would and checks the files it leaves.
#include "kplx-pack/trailer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes readFile(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path &p, const Bytes &b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>((i * 31 + seed) ^ (i >> 8));
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes trailer(std::uint32_t n) {
    const auto t = kplx::pack::makeTrailer(n);
    return Bytes(t.begin(), t.end());
}

// A raw trailer, for damaged ones makeTrailer would not describe.
Bytes rawTrailer(std::uint32_t n) {
    return {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24), 'D', 'A', 'T', 'A'};
}

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

class PackCli : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/kplx-pack-test-XXXXXX";
        char io[] = "/tmp/kplx-pack-test-io-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        ASSERT_NE(mkdtemp(io), nullptr);
        dir = name;
        scratch = io;
        utility = dir / "utility.exe";
        database = dir / "database.db";
        output = dir / "out.exe";
        utilityBytes = concat({{'M', 'Z'}, pattern(5998, 7)});
        writeFile(utility, utilityBytes);
        sample = readFile(KPLX_SAMPLE_DB);
        ASSERT_EQ(sample.size(), 70085u) << "sample.db missing or wrong: " << KPLX_SAMPLE_DB;
        writeFile(database, sample);
    }
    void TearDown() override {
        fs::remove_all(dir);
        fs::remove_all(scratch);
    }

    Outcome pack(const std::vector<std::string> &args) {
        std::string command = "'" KPLX_PACK_PATH "'";
        for (const std::string &a : args) command += " '" + a + "'";
        const fs::path out = scratch / "stdout", err = scratch / "stderr";
        command += " >'" + out.string() + "' 2>'" + err.string() + "'";
        const int status = std::system(command.c_str());
        const Bytes o = readFile(out), e = readFile(err);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(o.begin(), o.end()),
                std::string(e.begin(), e.end())};
    }

    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
        return names;
    }

    // One line, prefixed, and nothing written to stdout.
    static void expectOneLineError(const Outcome &r) {
        EXPECT_EQ(r.err.rfind("kplx-pack: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }

    fs::path dir, utility, database, output;
    fs::path scratch;  // stdout and stderr of each run, kept out of `dir`'s listing
    Bytes utilityBytes, sample;
};

TEST_F(PackCli, PackedSampleIsUtilityThenDatabaseThenTrailer) {
    const Outcome r = pack({utility, database, "-o", output});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, InfoReportsTheSampleDatabase) {
    ASSERT_EQ(pack({utility, database, "-o", output}).code, 0);
    const Outcome r = pack({"--info", output});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("database size: 70085 bytes\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("block count: 547 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames sent: 548\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("offset: 6000\n"), std::string::npos) << r.out;
}

TEST_F(PackCli, SmallestDatabaseIsAccepted) {
    writeFile(database, pattern(128, 3));
    ASSERT_EQ(pack({utility, database, "-o", output}).code, 0);
    EXPECT_EQ(readFile(output).size(), utilityBytes.size() + 128 + 8);
}

TEST_F(PackCli, DatabaseUnderOneBlockIsRefused) {
    for (std::size_t size : {std::size_t{0}, std::size_t{127}}) {
        writeFile(database, pattern(size, 3));
        const Outcome r = pack({utility, database, "-o", output});
        EXPECT_EQ(r.code, 3) << size;
        expectOneLineError(r);
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST_F(PackCli, DatabaseBeyond32BitsIsRefusedBeforeReading) {
    fs::resize_file(database, 0x100000000ull);  // sparse: costs no disk
    const Outcome r = pack({utility, database, "-o", output});
    EXPECT_EQ(r.code, 4);
    expectOneLineError(r);
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(PackCli, AlreadyPackedUtilityIsRefused) {
    ASSERT_EQ(pack({utility, database, "-o", output}).code, 0);
    const Outcome r = pack({output, database, "-o", dir / "twice.exe"});
    EXPECT_EQ(r.code, 5);
    expectOneLineError(r);
    EXPECT_NE(r.err.find("--replace"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "twice.exe"));
}

TEST_F(PackCli, OutputThatIsAnInputIsRefused) {
    fs::create_hard_link(utility, dir / "alias.exe");
    for (const fs::path &out : {utility, database, dir / "." / "utility.exe", dir / "alias.exe"}) {
        const Outcome r = pack({utility, database, "-o", out});
        EXPECT_EQ(r.code, 8) << out;
        expectOneLineError(r);
    }
    EXPECT_EQ(readFile(utility), utilityBytes);
    EXPECT_EQ(readFile(database), sample);
}

TEST_F(PackCli, MissingOrUnreadableInputIsRefused) {
    fs::create_directory(dir / "folder");
    for (const auto &args : std::vector<std::vector<std::string>>{
             {dir / "absent.exe", database, "-o", output},
             {utility, dir / "absent.db", "-o", output},
             {utility, dir / "folder", "-o", output},
             {"--info", dir / "absent.exe"}}) {
        const Outcome r = pack(args);
        EXPECT_EQ(r.code, 2) << args[0] << " " << args[1];
        expectOneLineError(r);
    }
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(PackCli, BadCommandLinesAreUsageErrors) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {},
             {utility, database},
             {utility, "-o", output},
             {utility, database, "-o"},
             {utility, database, "-o", output, "--bogus"},
             {"--info", utility, "--replace"}}) {
        const Outcome r = pack(args);
        EXPECT_EQ(r.code, 1) << args.size();
        expectOneLineError(r);
    }
}

TEST_F(PackCli, HelpDocumentsEveryExitCode) {
    const Outcome r = pack({"--help"});
    EXPECT_EQ(r.code, 0);
    for (int code = 1; code <= 9; ++code) {
        EXPECT_NE(r.out.find("\n  " + std::to_string(code) + "  "), std::string::npos) << code;
    }
}

TEST_F(PackCli, ReplaceSwapsTheDatabase) {
    ASSERT_EQ(pack({utility, database, "-o", output}).code, 0);
    const Bytes second = pattern(300, 9);
    writeFile(dir / "second.db", second);
    const Outcome r = pack({output, dir / "second.db", "-o", dir / "swapped.exe", "--replace"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir / "swapped.exe"), concat({utilityBytes, second, trailer(300)}));
}

TEST_F(PackCli, ReplaceOnAnUnpackedUtilityJustPacks) {
    ASSERT_EQ(pack({utility, database, "-o", output, "--replace"}).code, 0);
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, DamagedTrailerIsRemovedOnlyWhenItFits) {
    // N = 64 fits the file: --replace can cut it off. N past the start of the file cannot be cut.
    writeFile(dir / "short.exe", concat({utilityBytes, pattern(64, 1), rawTrailer(64)}));
    writeFile(dir / "long.exe", concat({utilityBytes, rawTrailer(1000000)}));

    Outcome r = pack({dir / "short.exe", database, "-o", output});
    EXPECT_EQ(r.code, 9);
    expectOneLineError(r);
    r = pack({dir / "long.exe", database, "-o", output, "--replace"});
    EXPECT_EQ(r.code, 9);
    expectOneLineError(r);
    EXPECT_FALSE(fs::exists(output));

    ASSERT_EQ(pack({dir / "short.exe", database, "-o", output, "--replace"}).code, 0);
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, InputsAreNeverWritten) {
    const auto utilityTime = fs::last_write_time(utility);
    const auto databaseTime = fs::last_write_time(database);
    ASSERT_EQ(pack({utility, database, "-o", output}).code, 0);
    ASSERT_EQ(pack({output, database, "-o", dir / "again.exe", "--replace"}).code, 0);
    const Bytes packed = readFile(output);
    ASSERT_EQ(pack({output, database, "-o", dir / "third.exe", "--replace"}).code, 0);

    EXPECT_EQ(readFile(utility), utilityBytes);
    EXPECT_EQ(readFile(database), sample);
    EXPECT_EQ(readFile(output), packed);
    EXPECT_EQ(fs::last_write_time(utility), utilityTime);
    EXPECT_EQ(fs::last_write_time(database), databaseTime);
}

TEST_F(PackCli, ExistingOutputIsReplacedWhole) {
    writeFile(output, pattern(200000, 5));  // longer than the result: no stale tail may remain
    ASSERT_EQ(pack({utility, database, "-o", output}).code, 0);
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, RefusalLeavesAnExistingOutputAlone) {
    const Bytes old = pattern(1000, 2);
    writeFile(output, old);
    writeFile(database, pattern(100, 3));
    const auto before = listing();
    EXPECT_EQ(pack({utility, database, "-o", output}).code, 3);
    EXPECT_EQ(readFile(output), old);
    EXPECT_EQ(listing(), before);
}

TEST_F(PackCli, FailureAfterWritingLeavesNoTemporaryFile) {
    // A directory in the output's place makes the final rename fail, after the copy is written.
    fs::create_directory(output);
    writeFile(output / "keep", pattern(10, 1));
    const auto before = listing();
    const Outcome r = pack({utility, database, "-o", output});
    EXPECT_EQ(r.code, 6);
    expectOneLineError(r);
    EXPECT_EQ(listing(), before);
    EXPECT_TRUE(fs::is_directory(output));
}

TEST_F(PackCli, InfoExplainsAFileWithoutADatabase) {
    struct Case {
        const char *name;
        Bytes bytes;
        const char *reason;
    };
    const std::vector<Case> cases = {
        {"plain.exe", utilityBytes, "no \"DATA\" trailer"},
        {"tiny.exe", {'D', 'A', 'T', 'A'}, "shorter than a trailer"},
        {"small.exe", concat({utilityBytes, pattern(127, 1), rawTrailer(127)}), "under 128 bytes"},
        {"large.exe", concat({pattern(200, 1), rawTrailer(201)}), "larger than the file"},
    };
    for (const Case &c : cases) {
        writeFile(dir / c.name, c.bytes);
        const Outcome r = pack({"--info", dir / c.name});
        EXPECT_EQ(r.code, 7) << c.name;
        expectOneLineError(r);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

}  // namespace
