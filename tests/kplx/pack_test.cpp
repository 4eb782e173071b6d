// kplx pack and kplx info, run as a user would, and the files they leave.
#include "core/database.h"
#include "kplx_run.h"

#include <set>

using namespace kplxtest;

namespace {

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes trailer(std::uint32_t n) {
    const auto t = kplx::core::makeTrailer(n);
    return Bytes(t.begin(), t.end());
}

// The smallest start a Windows program has: "MZ", e_lfanew at 0x3C, "PE\0\0" where it points;
// the rest is filler.
Bytes windowsProgram(std::size_t size, std::uint32_t lfanew = 0x80) {
    Bytes b = pattern(size, 7);
    b[0] = 'M';
    b[1] = 'Z';
    for (int i = 0; i < 4; ++i) b[0x3C + i] = static_cast<unsigned char>(lfanew >> (8 * i));
    if (lfanew + 4 <= size) {
        const unsigned char pe[] = {'P', 'E', 0, 0};
        std::copy(pe, pe + 4, b.begin() + lfanew);
    }
    return b;
}

std::string inQuotes(const fs::path &p) { return "'" + p.string() + "'"; }

// A raw trailer, for damaged ones makeTrailer would not describe.
Bytes rawTrailer(std::uint32_t n) {
    return {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24), 'D', 'A', 'T', 'A'};
}

class PackCli : public KplxTest {
protected:
    void SetUp() override {
        KplxTest::SetUp();
        fs::create_directory(dir / "files");
        dir = dir / "files";   // the runs' stdout and stderr stay out of its listing
        utility = dir / "utility.exe";
        database = dir / "database.db";
        output = dir / "out.exe";
        utilityBytes = windowsProgram(6000);
        writeFile(utility, utilityBytes);
        sample = readFile(KPLX_SAMPLE_DB);
        ASSERT_EQ(sample.size(), 70085u) << "sample.db missing or wrong: " << KPLX_SAMPLE_DB;
        writeFile(database, sample);
    }
    void TearDown() override {
        dir = dir.parent_path();
        KplxTest::TearDown();
    }

    Ran pack(const std::vector<std::string> &args) {
        // The runs write next to the folder under test, not into it.
        const fs::path files = dir;
        dir = dir.parent_path();
        Ran r = kplx(args);
        dir = files;
        return r;
    }

    std::set<std::string> listing() const {
        std::set<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
        return names;
    }

    // One line, prefixed, and nothing written to stdout.
    static void expectOneLineError(const Ran &r) {
        EXPECT_EQ(r.err.rfind("kplx: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }

    fs::path utility, database, output;
    Bytes utilityBytes, sample;
};

TEST_F(PackCli, PackedSampleIsUtilityThenDatabaseThenTrailer) {
    const Ran r = pack({"pack", utility, database, "-o", output});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, InfoReportsTheSampleDatabase) {
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    const Ran r = pack({"info", output});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("database size: 70085 bytes\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("block count: 547 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames sent: 548\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("offset: 6000\n"), std::string::npos) << r.out;
}

TEST_F(PackCli, SmallestDatabaseIsAccepted) {
    writeFile(database, pattern(128, 3));
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    EXPECT_EQ(readFile(output).size(), utilityBytes.size() + 128 + 8);
}

TEST_F(PackCli, DatabaseUnderOneBlockIsRefused) {
    for (std::size_t size : {std::size_t{0}, std::size_t{127}}) {
        writeFile(database, pattern(size, 3));
        const Ran r = pack({"pack", utility, database, "-o", output});
        EXPECT_EQ(r.code, 2) << size;
        expectOneLineError(r);
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST_F(PackCli, DatabaseBeyond32BitsIsRefusedBeforeReading) {
    fs::resize_file(database, 0x100000000ull);  // sparse: costs no disk
    const Ran r = pack({"pack", utility, database, "-o", output});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(PackCli, AlreadyPackedUtilityIsRefused) {
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    const Ran r = pack({"pack", output, database, "-o", dir / "twice.exe"});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_NE(r.err.find("--replace"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "twice.exe"));
}

TEST_F(PackCli, OutputThatIsAnInputIsRefused) {
    fs::create_hard_link(utility, dir / "alias.exe");
    for (const fs::path &out : {utility, database, dir / "." / "utility.exe", dir / "alias.exe"}) {
        const Ran r = pack({"pack", utility, database, "-o", out});
        EXPECT_EQ(r.code, 1) << out;
        expectOneLineError(r);
    }
    EXPECT_EQ(readFile(utility), utilityBytes);
    EXPECT_EQ(readFile(database), sample);
}

TEST_F(PackCli, MissingOrUnreadableInputIsRefused) {
    fs::create_directory(dir / "folder");
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"pack", dir / "absent.exe", database, "-o", output},
             {"pack", utility, dir / "absent.db", "-o", output},
             {"pack", utility, dir / "folder", "-o", output},
             {"info", dir / "absent.exe"}}) {
        const Ran r = pack(args);
        EXPECT_EQ(r.code, 2) << args[1] << " " << args[2];
        expectOneLineError(r);
    }
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(PackCli, BadCommandLinesAreUsageErrors) {
    for (const auto &args : std::vector<std::vector<std::string>>{
             {},
             {"pack", utility, database},
             {"pack", utility, "-o", output},
             {"pack", utility, database, "-o"},
             {"pack", utility, database, "-o", output, "--bogus"},
             {"info", utility, "--replace"}}) {
        const Ran r = pack(args);
        EXPECT_EQ(r.code, 1) << args.size();
        expectOneLineError(r);
    }
}

TEST_F(PackCli, HelpDocumentsEveryExitCode) {
    for (const char *command : {"--help", "load"}) {
        const Ran r = command == std::string("load") ? pack({"load", "--help"}) : pack({command});
        EXPECT_EQ(r.code, 0);
        for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 130})
            EXPECT_NE(r.out.find("\n  " + std::to_string(code) + " "), std::string::npos) << command << " " << code;
    }
}

TEST_F(PackCli, ReplaceSwapsTheDatabase) {
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    const Bytes second = pattern(300, 9);
    writeFile(dir / "second.db", second);
    const Ran r = pack({"pack", output, dir / "second.db", "-o", dir / "swapped.exe", "--replace"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir / "swapped.exe"), concat({utilityBytes, second, trailer(300)}));
}

TEST_F(PackCli, ReplaceOnAnUnpackedUtilityJustPacks) {
    ASSERT_EQ(pack({"pack", utility, database, "-o", output, "--replace"}).code, 0);
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, DamagedTrailerIsRemovedOnlyWhenItFits) {
    // N = 64 fits the file: --replace can cut it off. N past the start of the file cannot be cut.
    writeFile(dir / "short.exe", concat({utilityBytes, pattern(64, 1), rawTrailer(64)}));
    writeFile(dir / "long.exe", concat({utilityBytes, rawTrailer(1000000)}));

    Ran r = pack({"pack", dir / "short.exe", database, "-o", output});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    r = pack({"pack", dir / "long.exe", database, "-o", output, "--replace"});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_FALSE(fs::exists(output));

    ASSERT_EQ(pack({"pack", dir / "short.exe", database, "-o", output, "--replace"}).code, 0);
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, InputsAreNeverWritten) {
    const auto utilityTime = fs::last_write_time(utility);
    const auto databaseTime = fs::last_write_time(database);
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    ASSERT_EQ(pack({"pack", output, database, "-o", dir / "again.exe", "--replace"}).code, 0);
    const Bytes packed = readFile(output);
    ASSERT_EQ(pack({"pack", output, database, "-o", dir / "third.exe", "--replace"}).code, 0);

    EXPECT_EQ(readFile(utility), utilityBytes);
    EXPECT_EQ(readFile(database), sample);
    EXPECT_EQ(readFile(output), packed);
    EXPECT_EQ(fs::last_write_time(utility), utilityTime);
    EXPECT_EQ(fs::last_write_time(database), databaseTime);
}

TEST_F(PackCli, ExistingOutputIsReplacedWhole) {
    writeFile(output, pattern(200000, 5));  // longer than the result: no stale tail may remain
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    EXPECT_EQ(readFile(output), concat({utilityBytes, sample, trailer(70085)}));
}

TEST_F(PackCli, RefusalLeavesAnExistingOutputAlone) {
    const Bytes old = pattern(1000, 2);
    writeFile(output, old);
    writeFile(database, pattern(100, 3));
    const auto before = listing();
    EXPECT_EQ(pack({"pack", utility, database, "-o", output}).code, 2);
    EXPECT_EQ(readFile(output), old);
    EXPECT_EQ(listing(), before);
}

TEST_F(PackCli, FailureAfterWritingLeavesNoTemporaryFile) {
    // A directory in the output's place makes the final rename fail, after the copy is written.
    fs::create_directory(output);
    writeFile(output / "keep", pattern(10, 1));
    const auto before = listing();
    const Ran r = pack({"pack", utility, database, "-o", output});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_EQ(listing(), before);
    EXPECT_TRUE(fs::is_directory(output));
}

TEST_F(PackCli, TermWhileWritingRemovesTheTemporaryFileAndLeavesTheOutput) {
    // The signal comes once the temporary file is written and flushed, just before the rename.
    const Bytes old = pattern(1000, 2);
    writeFile(output, old);
    const auto before = listing();
    environment = {{"LD_PRELOAD", KPLX_SIGNAL_SHIM},
                   {"KPLX_TEST_SIGNAL_AT_FSYNC", std::to_string(SIGTERM)},
                   {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    const Ran r = pack({"pack", utility, database, "-o", output});
    EXPECT_EQ(r.code, 130) << r.err;
    expectOneLineError(r);
    EXPECT_NE(r.err.find("interrupted; '" + output.string() + "' not written"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(output), old);
    EXPECT_EQ(listing(), before);
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
        const Ran r = pack({"info", dir / c.name});
        EXPECT_EQ(r.code, 2) << c.name;
        expectOneLineError(r);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

// --- UTILITY must be a Windows program ----------------------------------------------------

TEST_F(PackCli, SwappedArgumentsAreRefusedAndCalledSwapped) {
    const auto before = listing();
    const Ran r = pack({"pack", database, utility, "-o", output});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_NE(r.err.find("is not a Windows program"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("swapped"), std::string::npos) << r.err;
    EXPECT_EQ(listing(), before);
}

TEST_F(PackCli, UtilityThatIsNotAWindowsProgramIsRefusedSayingWhatItIs) {
    const Bytes program = windowsProgram(6000);
    const Bytes shortHeader(program.begin(), program.begin() + 63);
    Bytes lfanewWraps = program;  // e_lfanew + 4 wraps a 32-bit sum round to 2
    std::fill(lfanewWraps.begin() + 0x3C, lfanewWraps.begin() + 0x40, 0xFF);
    lfanewWraps[0x3C] = 0xFE;
    Bytes newExecutable = program;  // a 16-bit Windows program: "NE" where "PE" should be
    newExecutable[0x80] = 'N';
    struct Case {
        const char *name;
        Bytes bytes;
        const char *says;
    };
    const std::vector<Case> cases = {
        {"empty.exe", {}, "it is empty"},
        {"script.exe", {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'}, "it begins \"#!/bin/s\", not"},
        {"elf.exe", {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0, 0}, "it begins \"\\x7FELF\\x02\\x01\\x01\\x00\""},
        {"lone-m.exe", {'M'}, "not with an \"MZ\" header"},
        {"short-header.exe", shortHeader, "cut short: 63 bytes"},
        {"lfanew-past-end.exe", windowsProgram(6000, 5997), "at 0x176D, beyond its 6000 bytes"},
        {"lfanew-wraps.exe", lfanewWraps, "at 0xFFFFFFFE, beyond"},
        {"ne.exe", newExecutable, "\"NE\\x00\\x00\" at 0x80"},
    };
    for (const Case &c : cases) {
        writeFile(dir / c.name, c.bytes);
        const Ran r = pack({"pack", dir / c.name, database, "-o", output});
        EXPECT_EQ(r.code, 2) << c.name;
        expectOneLineError(r);
        EXPECT_NE(r.err.find("is not a Windows program: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
        EXPECT_EQ(r.err.find("swapped"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(PackCli, PeSignatureEndingTheFileIsAccepted) {
    writeFile(utility, windowsProgram(6000, 5996));
    const Ran r = pack({"pack", utility, database, "-o", output});
    EXPECT_EQ(r.code, 0) << r.err;
}

TEST_F(PackCli, DatabaseThatIsAWindowsProgramIsRefused) {
    const Ran r = pack({"pack", utility, utility, "-o", output});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_NE(r.err.find("is a Windows program, not a database"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(output));
}

// --- The output appears whole, beside nothing else ------------------------------------------

TEST_F(PackCli, SuccessLeavesTheOutputAndNoTemporaryFile) {
    std::set<std::string> expected = listing();
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    expected.insert("out.exe");
    EXPECT_EQ(listing(), expected);
    // Replacing an output leaves nothing either.
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    EXPECT_EQ(listing(), expected);
}

TEST_F(PackCli, OutputIsRunnableWhenTheUtilityIsAndNeverReadOnly) {
    fs::permissions(utility, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    ASSERT_EQ(pack({"pack", utility, database, "-o", output}).code, 0);
    EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);

    fs::permissions(utility, fs::perms::owner_read | fs::perms::group_read);
    ASSERT_EQ(pack({"pack", utility, database, "-o", dir / "second.exe"}).code, 0);
    EXPECT_EQ(fs::status(dir / "second.exe").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(PackCli, OutputInAMissingFolderIsRefused) {
    const Ran r = pack({"pack", utility, database, "-o", dir / "absent" / "out.exe"});
    EXPECT_EQ(r.code, 2);
    expectOneLineError(r);
    EXPECT_NE(r.err.find("cannot write " + inQuotes(dir / "absent" / "out.exe")), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "absent"));
}

}  // namespace
