// How kplx ends early, and what it puts back first.
//   Ctrl-C (SIGINT; on Windows also Ctrl-Break): the first asks every meter to stop after the
//     frame in flight; the second also gives up the wait for that frame's reply. Either way
//     the bridges are put back and the ports closed before kplx exits.
//   SIGTERM, SIGHUP (the terminal or the SSH session went away), and on Windows the console
//     being closed, the user logging off or the machine shutting down: stop after the frame in
//     flight. Repeating these does not give up the wait: a hangup often comes twice (from the
//     kernel, then from the shell).
//   SIGPIPE: ignored, so that output to a closed pipe fails quietly and the work goes on.
#pragma once

#include <atomic>
#include <functional>

namespace kplx::platform {

enum class StopCause { none, interrupt, terminate, hangup, consoleClosed };

// Installs the handlers; call once, before any device is touched. Ctrl-C and SIGHUP stay
// ignored where the parent started kplx with them ignored (nohup, a background job).
void watchInterrupts();

bool interrupted();                   // a stop has been asked for
bool abandoning();                    // Ctrl-C twice: waits for replies are given up
const std::atomic<bool> &stopFlag();
const std::atomic<bool> &abandonFlag();
StopCause stopCause();                // what asked first (none before that)

// The command has put back and closed everything it touched and written its output: a console
// close (Windows) that waits for this may now let the process end.
void settled();

// What a console close, logoff or shutdown does on Windows, which ends the process about 5 s
// after the event: ask for the stop and wait for the command to settle; past `finishFrameMs`,
// give up the frame in flight so that the ports can still be put back and closed, and wait
// `afterAbandonMs` more. `waitSettled(ms)` says whether the command settled within ms.
// True when it settled in time.
struct CloseBudget {
    unsigned finishFrameMs = 3000;
    unsigned afterAbandonMs = 1500;
};
bool answerConsoleClose(StopCause cause, const std::function<bool(unsigned ms)> &waitSettled,
                        const CloseBudget &budget = CloseBudget());

// Records a stop request as the handlers do (for the console-close path and its tests).
void requestStop(StopCause cause);

}  // namespace kplx::platform
