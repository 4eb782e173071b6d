// pack's output file in-process: the temporary file the interrupt handler may remove is named
// exactly while it exists, lives beside the output, and never outlives a failed or abandoned pack.
#include "kplx/output_file.h"
#include "kplx_run.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

using namespace kplxtest;

namespace {

// The order of what reaches the disk, seen by standing in for fsync and rename in this test
// program: a power cut must find the old output or the whole new one.
std::vector<std::string> *diskEvents = nullptr;

template <typename F>
F realFunction(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd)
{
    if (diskEvents != nullptr) {
        struct stat st = {};
        fstat(fd, &st);
        diskEvents->push_back(S_ISDIR(st.st_mode) ? "flush folder" : "flush file");
    }
    static const auto real = realFunction<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept
{
    if (diskEvents != nullptr)
        diskEvents->push_back("rename");
    static const auto real = realFunction<int (*)(const char *, const char *)>("rename");
    return real(from, to);
}

namespace {

class OutputFileTest : public KplxTest {
protected:
    void SetUp() override
    {
        KplxTest::SetUp();
        target = (dir / "out.exe").string();
    }
    static const Bytes &content()
    {
        static const Bytes bytes = pattern(100000, 4);
        return bytes;
    }
    std::string target;
};

TEST_F(OutputFileTest, TemporaryNameIsPublishedExactlyWhileTheFileExists)
{
    EXPECT_EQ(nullptr, kplx::pendingTemporaryFile());
    {
        kplx::OutputFile out(target, "'out.exe'");
        ASSERT_TRUE(out.create(0644)) << out.error();
        ASSERT_NE(nullptr, kplx::pendingTemporaryFile());
        EXPECT_EQ(out.temporaryPath(), kplx::pendingTemporaryFile());
        EXPECT_TRUE(fs::exists(out.temporaryPath()));
        ASSERT_TRUE(out.write(content().data(), content().size())) << out.error();
        ASSERT_TRUE(out.commit()) << out.error();
        EXPECT_EQ(nullptr, kplx::pendingTemporaryFile());
        EXPECT_FALSE(fs::exists(out.temporaryPath()));
    }
    EXPECT_EQ(content(), readFile(target));
}

TEST_F(OutputFileTest, FileIsFlushedBeforeTheRenameAndTheFolderAfter)
{
    std::vector<std::string> events;
    kplx::OutputFile out(target, "'out.exe'");
    ASSERT_TRUE(out.create(0644));
    ASSERT_TRUE(out.write(content().data(), content().size()));
    diskEvents = &events;
    const bool committed = out.commit();
    diskEvents = nullptr;
    ASSERT_TRUE(committed) << out.error();
    EXPECT_EQ((std::vector<std::string>{"flush file", "rename", "flush folder"}), events);
}

TEST_F(OutputFileTest, TemporaryFileSitsBesideTheOutput)
{
    // A rename across file systems would fail or copy; the folder is the output's own.
    kplx::OutputFile out(target, "'out.exe'");
    ASSERT_TRUE(out.create(0644)) << out.error();
    EXPECT_EQ(dir, fs::path(out.temporaryPath()).parent_path());
}

TEST_F(OutputFileTest, AbandonedOutputLeavesNothingBehind)
{
    writeFile(target, pattern(10, 1));
    {
        kplx::OutputFile out(target, "'out.exe'");
        ASSERT_TRUE(out.create(0644));
        ASSERT_TRUE(out.write(content().data(), 5000));
    }
    EXPECT_EQ(nullptr, kplx::pendingTemporaryFile());
    EXPECT_EQ(pattern(10, 1), readFile(target));
    EXPECT_EQ(2, std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));   // sim.cfg, out.exe
}

TEST_F(OutputFileTest, InterruptHandlerRemovesTheFileBeingWritten)
{
    kplx::OutputFile out(target, "'out.exe'");
    ASSERT_TRUE(out.create(0644));
    ASSERT_TRUE(out.write(content().data(), 5000));
    const std::string temporary = out.temporaryPath();
    kplx::removePendingTemporaryFile();
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_FALSE(out.commit());   // the handler ends the process; a commit after it must not succeed
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(OutputFileTest, LeftoverOfTheSameNameIsReplacedNotFollowed)
{
    // A killed pack of the same process id left its file, or someone put a link there.
    std::string temporary;
    {
        kplx::OutputFile probe(target, "'out.exe'");
        temporary = probe.temporaryPath();
    }
    const fs::path victim = dir / "victim";
    writeFile(victim, pattern(10, 2));
    fs::create_symlink(victim, temporary);

    kplx::OutputFile out(target, "'out.exe'");
    ASSERT_TRUE(out.create(0644)) << out.error();
    ASSERT_TRUE(out.write(content().data(), content().size()));
    ASSERT_TRUE(out.commit()) << out.error();
    EXPECT_EQ(pattern(10, 2), readFile(victim));
    EXPECT_EQ(content(), readFile(target));
    EXPECT_FALSE(fs::is_symlink(target));
}

TEST_F(OutputFileTest, FailedRenameKeepsNoTemporaryFileAndSaysWhy)
{
    fs::create_directory(target);   // a folder in the output's place
    writeFile(fs::path(target) / "keep", pattern(10, 1));
    {
        kplx::OutputFile out(target, "'out.exe'");
        ASSERT_TRUE(out.create(0644));
        ASSERT_TRUE(out.write(content().data(), 1000));
        EXPECT_FALSE(out.commit());
        EXPECT_NE(std::string::npos, out.error().find("cannot rename the temporary file to 'out.exe'")) << out.error();
    }
    EXPECT_EQ(nullptr, kplx::pendingTemporaryFile());
    EXPECT_EQ(2, std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));   // sim.cfg, out.exe/
}

}  // namespace
