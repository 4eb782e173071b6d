// Live progress on a terminal: one line for all meters when theirs would not fit the rows, and
// each redraw starting where the old lines began, however a resize rewrapped them.
#include "kplx/progress.h"
#include "load_fixture.h"

#include <pty.h>

#include <cstdlib>
#include <memory>

using namespace kplxtest;
using kplx::MeterProgress;
using kplx::ProgressDisplay;

namespace {

class LiveProgress : public ::testing::Test {
protected:
    void SetUp() override { out = open_memstream(&buffer, &length); }
    void TearDown() override
    {
        display.reset();
        std::fclose(out);
        std::free(buffer);
    }

    // `count` meters (KP000001 ...) on a terminal of this size.
    void start(int columns, int rows, int count)
    {
        size = {columns, rows};
        kplx::ProgressOutput output;
        output.size = [this] { return size; };
        output.out = output.err = out;
        display = std::make_unique<ProgressDisplay>(kplx::ProgressMode::live, 548, output);
        for (int i = 1; i <= count; ++i) {
            meters.push_back(std::make_unique<MeterProgress>());
            display->add("KP00000" + std::to_string(i), *meters.back());
        }
    }

    // What the next redraw writes.
    std::string redraw()
    {
        display->update();
        std::fflush(out);
        std::string frame(buffer + seen, length - seen);
        seen = length;
        return frame;
    }

    std::FILE *out = nullptr;
    char *buffer = nullptr;
    size_t length = 0, seen = 0;
    kplx::platform::TerminalSize size;
    std::vector<std::unique_ptr<MeterProgress>> meters;
    std::unique_ptr<ProgressDisplay> display;
};

TEST_F(LiveProgress, MoreMetersThanRowsDrawOneLineInPlaceOfScrollingCopies)
{
    start(80, 6, 8);
    const uint32_t sent[] = {548, 548, 55, 110, 220, 274, 0, 0};
    for (size_t i = 0; i < meters.size(); ++i) {
        meters[i]->blocksSent = sent[i];
        meters[i]->done = sent[i] == 548;
    }
    const std::string first = redraw();
    EXPECT_EQ(std::string::npos, first.find(" [")) << "a meter's own line: " << first;
    EXPECT_NE(std::string::npos, first.find("\r8 meters: 2 done, 4 loading 10-50 %, 2 waiting  00:00\x1b[K\n")) << first;
    EXPECT_EQ(0u, redraw().rfind("\x1b[1A\r8 meters:", 0));   // over the one line, not below it
}

TEST_F(LiveProgress, RedrawAfterAResizeStartsWhereTheOldLinesBegan)
{
    start(120, 20, 3);
    for (auto &m : meters)
        m->blocksSent = 100;
    redraw();
    size = {50, 20};   // the terminal rewraps each of the three lines (74 to 99 characters) to two rows
    const std::string narrower = redraw();
    EXPECT_EQ(0u, narrower.rfind("\x1b[6A", 0)) << narrower;
    size = {50, 3};    // no room for three lines and the cursor's: one line, and nothing left below
    const std::string frame = redraw();
    EXPECT_EQ(0u, frame.rfind("\x1b[3A", 0)) << frame;
    EXPECT_NE(std::string::npos, frame.find("\r3 meters: 3 loading 18 %")) << frame;
    EXPECT_EQ(std::string::npos, frame.find(" [")) << frame;
    EXPECT_EQ(frame.size() - 3, frame.rfind("\x1b[J"));
}

TEST_F(Load, SixMetersOnFiveRowsOfARealTerminalShowOneLineForAll)
{
    std::string text;
    for (int i = 1; i <= 6; ++i)
        text += meter("KP00000" + std::to_string(i));
    config(text);
    struct winsize size = {};
    size.ws_col = 100;
    size.ws_row = 5;
    int terminal = -1;
    pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid == 0) {
        setenv("TERM", "xterm", 1);
        setenv("KPLX_BACKEND", "sim", 1);
        setenv("KPLX_SIM_CONFIG", (dir / "sim.cfg").c_str(), 1);
        execl(program.c_str(), program.c_str(), "load", "--all", packed.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string written;
    char chunk[4096];
    ssize_t n = 0;
    while ((n = read(terminal, chunk, sizeof chunk)) > 0)   // EIO once kplx has gone
        written.append(chunk, static_cast<size_t>(n));
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << written;
    EXPECT_EQ(std::string::npos, written.find(" [")) << written;
    EXPECT_NE(std::string::npos, written.find("6 meters: 6 done")) << written;
    EXPECT_NE(std::string::npos, written.find("6 of 6 meters loaded")) << written;
}

}  // namespace
