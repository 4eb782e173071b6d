#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct QuietCase {
    const char *arguments;
    bool quiet;
};

// A scan that looks one character too far, or not at all past a '+', gets one of these wrong.
const QuietCase quietCases[] = {
    {"+Q", true},
    {"x +Q y", true},
    {"abc+Q", true},
    {"+++Q", true},    // the third '+' is not consumed by a test
    {"++Q", false},    // the second '+' is consumed by the first one's test
    {"+q", false},
    {"+ Q", false},
    {"Q", false},
    {"+", false},
    {"", false},
    {"+Z+Q", true},
};

TEST(QuietFlag, PlusDirectlyFollowedByUpperCaseQ)
{
    for (const QuietCase &c : quietCases)
        EXPECT_EQ(c.quiet, scanQuietFlag(c.arguments)) << '"' << c.arguments << '"';
}

struct SplitCase {
    const char *line;
    const char *arguments;
};

const SplitCase splitCases[] = {
    {"kplx.exe +Q", "+Q"},
    {"\"C:\\Program Files\\kplx.exe\" +Q", "+Q"},
    {"\"C:\\Program Files\\kplx.exe\"+Q", "+Q"},
    {"kplx.exe", ""},
    {"kplx.exe \t  a b", "a b"},
    {"\"unterminated", ""},
    {"", ""},
};

TEST(ProgramNameSplit, ArgumentsStartAfterNameAndBlanks)
{
    for (const SplitCase &c : splitCases)
        EXPECT_STREQ(c.arguments, skipProgramName(c.line)) << '"' << c.line << '"';
}

struct PathCase {
    const char *line;
    const char *path;
};

const PathCase pathCases[] = {
    {"\"C:\\Program Files\\Quorvel\\kplx.exe\" +Q", "C:\\Program Files\\Quorvel\\kplx.exe"},
    {"C:\\tools\\kplx.exe +Q extra", "C:\\tools\\kplx.exe"},
    {"kplx", "kplx"},
    {"\"kplx.exe\"", "kplx.exe"},
    {"\"kplx.exe   \" x", "kplx.exe"},
};

TEST(ProgramPath, QuotesArgumentsAndTrailingBlanksRemoved)
{
    for (const PathCase &c : pathCases) {
        char path[1024];
        ASSERT_TRUE(programPathFromCommandLine(c.line, path, sizeof path)) << c.line;
        EXPECT_STREQ(c.path, path) << c.line;
    }
}

TEST(ProgramPath, EmptyLineOrOnlyQuotesGivesNoPath)
{
    char path[64];
    EXPECT_FALSE(programPathFromCommandLine("", path, sizeof path));
    EXPECT_FALSE(programPathFromCommandLine("\"\"", path, sizeof path));
    EXPECT_FALSE(programPathFromCommandLine("\"  \" +Q", path, sizeof path));
}

TEST(ProgramPath, PathLongerThanBufferIsRefusedNotOverrun)
{
    std::string line(100, 'a');
    char path[100];
    EXPECT_FALSE(programPathFromCommandLine(line.c_str(), path, sizeof path));
    line.resize(99);
    EXPECT_TRUE(programPathFromCommandLine(line.c_str(), path, sizeof path));
    EXPECT_EQ(99u, std::string(path).size());
}

}  // namespace
