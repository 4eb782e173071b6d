// Live progress on a terminal: redrawn in place, one line for all meters when theirs would not
// fit, and no copies left behind by a resize or a message. What kplx writes is played on a
// model screen that rewraps on a resize as most terminals do.
#include "kplx/progress.h"
#include "load_fixture.h"
#include "screen.h"

#include <pty.h>

#include <cstdlib>
#include <memory>

using namespace kplxtest;
using kplx::MeterProgress;
using kplx::ProgressDisplay;

namespace {

constexpr uint32_t kBlocks = 548;

size_t rowsWith(const std::vector<std::string> &rows, const std::string &text)
{
    size_t n = 0;
    for (const std::string &row : rows)
        n += row.find(text) != std::string::npos;
    return n;
}

size_t rowsStartingWith(const std::vector<std::string> &rows, const std::string &text)
{
    size_t n = 0;
    for (const std::string &row : rows)
        n += row.rfind(text, 0) == 0;
    return n;
}

size_t nonEmpty(const std::vector<std::string> &rows)
{
    size_t n = 0;
    for (const std::string &row : rows)
        n += !row.empty();
    return n;
}

class LiveProgress : public ::testing::Test {
protected:
    void SetUp() override { out = open_memstream(&buffer, &length); }
    void TearDown() override
    {
        display.reset();
        std::fclose(out);
        std::free(buffer);
    }

    // A terminal of this size, and `count` meters on it (KP000001 ...).
    void start(int columns, int rows, int count)
    {
        resize(columns, rows);
        kplx::ProgressOutput output;
        output.size = [this] { return size; };
        output.out = out;
        output.err = out;   // on a terminal both land on the same screen
        display = std::make_unique<ProgressDisplay>(kplx::ProgressMode::live, kBlocks, output);
        for (int i = 1; i <= count; ++i) {
            meters.push_back(std::make_unique<MeterProgress>());
            display->add("KP00000" + std::to_string(i), *meters.back());
        }
    }

    void resize(int columns, int rows)
    {
        size = {columns, rows};
        screen.resize(columns, rows);
    }

    // A redraw, played on the screen.
    void update()
    {
        display->update();
        play();
    }

    void play()
    {
        std::fflush(out);
        screen.write(std::string(buffer + played, length - played));
        played = length;
    }

    std::FILE *out = nullptr;
    char *buffer = nullptr;
    size_t length = 0, played = 0;
    kplx::platform::TerminalSize size;
    Screen screen{80, 24};
    std::vector<std::unique_ptr<MeterProgress>> meters;
    std::unique_ptr<ProgressDisplay> display;
};

TEST_F(LiveProgress, MoreMetersThanRowsDrawOneLineInsteadOfScrollingCopies)
{
    start(80, 6, 8);
    const uint32_t sent[] = {kBlocks, kBlocks, 55, 110, 220, 274, 0, 0};
    for (int redraw = 0; redraw < 3; ++redraw) {
        for (size_t i = 0; i < meters.size(); ++i) {
            meters[i]->blocksSent = sent[i];
            meters[i]->done = sent[i] == kBlocks;
        }
        update();
    }
    EXPECT_EQ(0u, rowsWith(screen.allRows(), " [")) << "a meter's own line was drawn";
    EXPECT_EQ(1u, rowsStartingWith(screen.allRows(), "8 meters: 2 done, 4 loading 10-50 %, 2 waiting  00:00"));
}

TEST_F(LiveProgress, NarrowerTerminalLeavesEachMeterOnce)
{
    start(120, 20, 3);
    for (auto &m : meters)
        m->blocksSent = 100;
    update();
    resize(40, 20);   // each line drawn so far now takes two rows
    update();
    const std::vector<std::string> rows = screen.visible();
    EXPECT_EQ(3u, nonEmpty(rows)) << testing::PrintToString(rows);
    for (const char *serial : {"KP000001 [", "KP000002 [", "KP000003 ["})
        EXPECT_EQ(1u, rowsStartingWith(rows, serial)) << serial;
}

TEST_F(LiveProgress, FewerRowsThanMetersMidLoadSwitchToTheOneLine)
{
    start(80, 10, 4);
    update();
    resize(80, 4);
    update();
    const std::vector<std::string> rows = screen.visible();
    EXPECT_EQ(0u, rowsWith(rows, " [")) << testing::PrintToString(rows);
    EXPECT_EQ(1u, rowsStartingWith(rows, "4 meters: 4 waiting"));
    EXPECT_EQ(1u, nonEmpty(rows));

    resize(80, 10);   // room again: a line a meter
    update();
    EXPECT_EQ(4u, rowsWith(screen.visible(), " ["));
    EXPECT_EQ(0u, rowsWith(screen.visible(), "4 meters:"));
}

TEST_F(LiveProgress, MessageIsWrittenOnceAboveTheLines)
{
    start(80, 24, 2);
    update();
    display->message("kplx: KP000002: attempt 1 of 2 failed", true);
    play();
    update();
    const std::vector<std::string> rows = screen.allRows();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ("kplx: KP000002: attempt 1 of 2 failed", rows[0]);
    EXPECT_EQ(1u, rowsStartingWith(rows, "KP000001 ["));
    EXPECT_EQ(1u, rowsStartingWith(rows, "KP000002 ["));
    EXPECT_EQ(3u, nonEmpty(rows));
}

TEST(CompactLine, CountsDoneLoadingAndWaiting)
{
    using G = ProgressDisplay::Glance;
    struct Case {
        std::vector<G> meters;
        const char *line;
    };
    const Case cases[] = {
        {{{true, 548}, {true, 100}}, "2 meters: 2 done  01:05"},   // a failed meter is done too
        {{{false, 274}, {false, 0}}, "2 meters: 1 loading 50 %, 1 waiting  01:05"},
        {{{false, 1}, {false, 548}, {true, 548}}, "3 meters: 1 done, 2 loading 0-100 %  01:05"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.line, ProgressDisplay::compactLine(c.meters, 548, 65.2));
}

// --- kplx on a real pseudo-terminal -------------------------------------------------------------

class OnTerminal : public Load {
protected:
    // Runs kplx with a pseudo-terminal of this size as its stdout and stderr; what it wrote
    // there, and its exit code.
    std::string run(const std::vector<std::string> &args, int columns, int rows, int &code)
    {
        struct winsize size = {};
        size.ws_col = static_cast<unsigned short>(columns);
        size.ws_row = static_cast<unsigned short>(rows);
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, &size);
        if (pid == 0) {
            setenv("TERM", "xterm", 1);
            setenv("KPLX_BACKEND", "sim", 1);
            setenv("KPLX_SIM_CONFIG", (dir / "sim.cfg").c_str(), 1);
            std::vector<char *> argv{const_cast<char *>(program.c_str())};
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        std::string written;
        char chunk[4096];
        ssize_t n = 0;
        while ((n = read(master, chunk, sizeof chunk)) > 0)   // EIO once kplx has gone
            written.append(chunk, static_cast<size_t>(n));
        close(master);
        int status = 0;
        waitpid(pid, &status, 0);
        code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return written;
    }
};

TEST_F(OnTerminal, SixMetersOnFiveRowsShowOneLineForAll)
{
    std::string text;
    for (int i = 1; i <= 6; ++i)
        text += meter("KP00000" + std::to_string(i));
    config(text);
    int code = -1;
    Screen screen(100, 5);
    screen.write(run({"load", "--all", packed}, 100, 5, code));
    ASSERT_EQ(0, code);
    const std::vector<std::string> rows = screen.allRows();
    EXPECT_EQ(0u, rowsWith(rows, " [")) << testing::PrintToString(rows);
    EXPECT_EQ(1u, rowsStartingWith(rows, "6 meters: 6 done")) << testing::PrintToString(rows);
    EXPECT_EQ(1u, rowsStartingWith(rows, "6 of 6 meters loaded"));
}

}  // namespace
