// The stop and the abandon as signals set them, and the answer to a console close as the
// Windows handler gives it. The flags live for the whole process, so each case runs in a
// fresh one of its own (a death test that exits 0 when all went as expected).
#include "kplx/platform/interrupt.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using kplx::platform::StopCause;
namespace platform = kplx::platform;

class InterruptDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

struct SignalCase {
    const char *what;
    std::vector<int> signals;
    bool stop;
    bool abandon;
    StopCause cause;
};

[[noreturn]] void runSignals(const SignalCase &c)
{
    platform::watchInterrupts();
    for (int s : c.signals)
        raise(s);
    const bool asExpected =
        platform::interrupted() == c.stop && platform::abandoning() == c.abandon && platform::stopCause() == c.cause;
    _exit(asExpected ? 0 : 1);
}

TEST_F(InterruptDeathTest, OnlyARepeatedCtrlCGivesUpTheWait)
{
    const SignalCase cases[] = {
        {"Ctrl-C", {SIGINT}, true, false, StopCause::interrupt},
        {"Ctrl-C twice", {SIGINT, SIGINT}, true, true, StopCause::interrupt},
        {"SIGHUP twice (kernel, then shell)", {SIGHUP, SIGHUP}, true, false, StopCause::hangup},
        {"SIGTERM twice", {SIGTERM, SIGTERM}, true, false, StopCause::terminate},
        {"Ctrl-C while stopping on SIGTERM", {SIGTERM, SIGINT}, true, true, StopCause::terminate},
        {"SIGHUP after Ctrl-C", {SIGINT, SIGHUP}, true, false, StopCause::interrupt},
        {"a closed pipe", {SIGPIPE}, false, false, StopCause::none},
    };
    for (const SignalCase &c : cases)
        EXPECT_EXIT(runSignals(c), ::testing::ExitedWithCode(0), "") << c.what;
}

// --- A console close: the handler's answer --------------------------------------------------

// What the handler's waits saw: whether the stop and the abandon were asked for by then.
struct Wait {
    unsigned ms;
    bool stop;
    bool abandon;
};

[[noreturn]] void answerClose(int settleAtWait)
{
    std::vector<Wait> waits;
    const bool settled = platform::answerConsoleClose(StopCause::consoleClosed, [&](unsigned ms) {
        waits.push_back({ms, platform::interrupted(), platform::abandoning()});
        return static_cast<int>(waits.size()) == settleAtWait;
    });
    bool ok = platform::stopCause() == StopCause::consoleClosed && !waits.empty();
    unsigned total = 0;
    for (const Wait &w : waits) {
        ok = ok && w.stop;   // the stop was asked for before any wait
        total += w.ms;
    }
    // Within what Windows allows before it ends the process (about 5 s).
    ok = ok && total < 5000;
    switch (settleAtWait) {
    case 1:   // the frame finished and the ports closed in time: nothing given up
        ok = ok && settled && waits.size() == 1 && !platform::abandoning();
        break;
    case 2:   // the frame took too long: given up, then the ports closed
        ok = ok && settled && waits.size() == 2 && !waits[0].abandon && waits[1].abandon;
        break;
    default:   // never settled: still returns, so that Windows is not kept waiting
        ok = ok && !settled && waits.size() == 2 && platform::abandoning();
        break;
    }
    _exit(ok ? 0 : 1);
}

TEST_F(InterruptDeathTest, ConsoleCloseWaitsForTheCommandThenGivesUpTheFrame)
{
    EXPECT_EXIT(answerClose(1), ::testing::ExitedWithCode(0), "") << "settled at once";
    EXPECT_EXIT(answerClose(2), ::testing::ExitedWithCode(0), "") << "settled once the frame was given up";
    EXPECT_EXIT(answerClose(0), ::testing::ExitedWithCode(0), "") << "never settled";
}

}  // namespace
