// kplx completion bash, driven in bash as the shell drives it: COMP_WORDS and COMP_CWORD set,
// the completion function called, COMPREPLY read back.
#include "kplx_run.h"

using namespace kplxtest;

namespace {

class Completion : public KplxTest {
protected:
    // What bash offers for the command line `words`, the last word being completed.
    std::string offered(const std::vector<std::string> &words)
    {
        std::string array;
        for (const std::string &w : words)
            array += " '" + w + "'";
        const std::string kplx = program;
        program = "/bin/bash";
        Ran r = this->kplx({"-c", "cd '" + dir.string() + "' && source <('" + kplx + "' completion bash) && " +
                                      "COMP_WORDS=('" + kplx + "'" + array + ") && COMP_CWORD=" +
                                      std::to_string(words.size()) + " && _kplx && for w in \"${COMPREPLY[@]}\"; do echo \"$w\"; done | sort"});
        program = kplx;
        EXPECT_EQ(0, r.code) << r.err;
        return r.out;
    }
};

TEST_F(Completion, SubcommandsAndOptionsComeFromTheCommandLine)
{
    EXPECT_EQ("list\nload\n", offered({"l"}));
    EXPECT_EQ("--latency\n", offered({"load", "--la"}));
    EXPECT_EQ("--output\n", offered({"pack", "--o"}));
    EXPECT_EQ("bash\n", offered({"completion", ""}));
}

TEST_F(Completion, SerialsAreTheAttachedMetersOnly)
{
    config("device meter\ndevice cable\ndevice meter\n");
    EXPECT_EQ("KP000001\nKP000003\n", offered({"load", "-s", ""}));
    EXPECT_EQ("KP000003\n", offered({"load", "--serial", "KP000003"}));
}

TEST_F(Completion, FilesWhereAFileIsNamed)
{
    writeText(dir / "meter-a.exe", "x");
    writeText(dir / "meter-b.exe", "x");
    EXPECT_EQ("meter-a.exe\nmeter-b.exe\n", offered({"load", "meter-"}));
    EXPECT_EQ("meter-a.exe\nmeter-b.exe\n", offered({"pack", "-o", "meter-"}));
    EXPECT_EQ("", offered({"load", "--retries", ""}));   // a number: nothing to offer
}

}  // namespace
