// The database transfer: one frame per tick of the step timer, stop-and-wait.
//   step -1: purge, timeouts (read 6000 ms, write 100 ms)
//   step 0: "DATABASE"; steps 1 .. stepCount-2: data blocks 0 .. blockCount; last: "END"
// Every frame waits for an ACK; "END" is confirmed by ACK and a "SUCCESS" frame.
#pragma once

#include "core/replies.h"
#include "core/steps.h"

#include <windows.h>

class ComAccess;

#define STEP_TIMER 12345
#define SETTLE_TIMER 12346
#define STEP_PERIOD_MS 10
#define SETTLE_PERIOD_MS 20

#define TRANSFER_READ_TIMEOUT_MS kplx::core::kTransferReadTimeoutMs
#define TRANSFER_WRITE_TIMEOUT_MS kplx::core::kTransferWriteTimeoutMs
#define TRANSFER_BAUD 115200
#define END_REPLY_LENGTH kplx::core::kEndReplyLength
#define REPLY_BUFFER_SIZE kplx::core::kReplyBufferSize
#define TUNED_LATENCY_MS 2   // FTDI advises against 1 ms, the USB frame's length

struct TransferState {
    int active;      // a transfer runs: gates painting, timers and stepping
    int settling;    // set at start, cleared by SETTLE_TIMER; steps wait while set
    int busy;        // a step is executing: message boxes' modal loops must not re-enter it
    int stepIndex;   // next step: -1, then 0 .. stepCount - 1
    int stepCount;   // blockCount + 3
    int progress;    // step whose frame was last sent; stepCount at completion
    ComAccess *port; // the long-lived port, created at start-up
};

extern TransferState transfer;

void startTransfer(HWND window);
void transferStep(HWND window);
void stopTimers(HWND window);   // and puts back the bridge's latency timer; the port stays open

// WM_TIMER while a transfer runs: STEP_TIMER steps unless settling, SETTLE_TIMER ends settling.
void routeTransferTimer(HWND window, UINT_PTR timerId);
