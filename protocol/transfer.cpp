#include "protocol/transfer.h"

#include "app/messages.h"
#include "payload/self_image.h"
#include "protocol/packet.h"
#include "usb/com_access.h"
#include "usb/driver_library.h"

#include <string.h>

TransferState transfer;

// The bridge holds each ACK until its latency timer next expires (16 ms apart as it comes).
// Where the library can, the timer runs short for this transfer only; without both functions
// nothing changes.
static void tuneBridge(ComAccess &port)
{
    port.bridgeTuned = 0;
    if (driverOptional.getLatencyTimer == NULL || driverOptional.setLatencyTimer == NULL)
        return;
    UCHAR found = 0;
    if (port.getLatencyTimer(&found) != FT_OK)
        return;
    port.latencyAtOpen = found;
    port.bridgeTuned = 1;
    port.setLatencyTimer(TUNED_LATENCY_MS);
}

// Puts back the latency timer tuneBridge found.
static void untuneBridge(ComAccess &port)
{
    if (port.bridgeTuned) {
        port.setLatencyTimer(port.latencyAtOpen);
        port.bridgeTuned = 0;
    }
}

static void closeTransferPort(ComAccess &port)
{
    untuneBridge(port);
    port.closePort();
}

// Also puts back the bridge's latency timer when a transfer is cut short: the window closing
// mid-transfer, or a restart whose reload fails. The port stays open, as it always has there.
void stopTimers(HWND window)
{
    KillTimer(window, STEP_TIMER);
    KillTimer(window, SETTLE_TIMER);
    transfer.active = 0;
    if (transfer.port != NULL)
        untuneBridge(*transfer.port);
}

void startTransfer(HWND window)
{
    // Posted into a message box's modal loop while a step runs: that step still owns the port.
    if (transfer.busy)
        return;
    transfer.active = 0;
    stopTimers(window);
    InvalidateRect(window, NULL, TRUE);

    if (transfer.port == NULL) {
        showMessage(MSG_NO_MEMORY_COMACCESS, STYLE_ERROR);
        return;
    }
    if (loadSelfImage() == -1)
        return;
    int blockCount = validateTrailer();
    if (blockCount == 0) {
        showMessage(MSG_INVALID_BINARY, STYLE_ERROR);
        freeSelfImage();
        return;
    }
    transfer.stepCount = blockCount + 3;
    transfer.progress = 0;

    ComAccess &port = *transfer.port;
    closeTransferPort(port);
    if (port.openAndConfigure(0, TRANSFER_BAUD, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) {
        showMessage(MSG_USB_PORT_ERROR, STYLE_ERROR);
        return;
    }
    port.checkMeterIdentity();
    if (port.meterMismatch) {
        port.closePort();
        showMessage(MSG_NO_DEVICES, STYLE_ERROR);
        return;
    }
    tuneBridge(port);

    SetTimer(window, SETTLE_TIMER, SETTLE_PERIOD_MS, NULL);
    transfer.settling = 1;
    transfer.stepIndex = -1;
    transfer.busy = 0;
    transfer.active = 1;
    SetTimer(window, STEP_TIMER, STEP_PERIOD_MS, NULL);
    port.purgeReceive();
    port.purgeTransmit();
    transferStep(window);
}

// Reads into the start of `reply` until something arrives or two reads come back empty
// (each waits up to the read timeout). A failed read counts as an empty one.
static void collectReply(ComAccess &port, unsigned char *reply, DWORD replyLength)
{
    kplx::core::ReplyWait wait;
    while (!wait.finished()) {
        DWORD n = 0;
        if (port.readBytes(reply, replyLength) == FT_OK)
            n = port.bytesRead;
        if (n > replyLength)
            n = replyLength;   // never trust a count beyond what was asked for
        wait.record(n);
    }
}

static void failTransfer(HWND window, int message)
{
    showMessage(message, STYLE_ERROR);
    transfer.active = 0;
    KillTimer(window, STEP_TIMER);
    InvalidateRect(window, NULL, TRUE);
}

// Sends this step's frame; returns the number of reply bytes to ask for.
static DWORD sendStepFrame(ComAccess &port)
{
    unsigned char payload[kplx::core::kMaxStepPayload];
    size_t length = kplx::core::stepPayload(databaseView(), transfer.stepIndex, payload);
    sendPacket(port, payload, static_cast<int>(length));
    return static_cast<DWORD>(kplx::core::replyLength(kplx::core::stepAt(transfer.stepIndex, transfer.stepCount)));
}

void transferStep(HWND window)
{
    if (!transfer.active || transfer.busy)
        return;
    transfer.busy = 1;
    ComAccess &port = *transfer.port;

    if (transfer.stepIndex == kplx::core::kSetupStep) {
        port.purgeReceive();
        port.setTimeouts(TRANSFER_READ_TIMEOUT_MS, TRANSFER_WRITE_TIMEOUT_MS);
    } else {
        // Anything still queued is left over from an earlier reply (a meter that answered
        // twice); read as this frame's answer it would hide a NAK or fail a good frame.
        port.purgeReceive();
        DWORD replyLength = sendStepFrame(port);
        transfer.progress = transfer.stepIndex;
        InvalidateRect(window, NULL, FALSE);

        unsigned char reply[REPLY_BUFFER_SIZE];
        memset(reply, 0, sizeof reply);
        collectReply(port, reply, replyLength);

        if (transfer.stepIndex == transfer.stepCount - 1) {
            if (!kplx::core::endConfirmed(reply)) {
                // Not confirmed and no "SUCCESS": the meter did not take the database.
                failTransfer(window, MSG_TRANSFER_ERROR);
            }
        } else if (!kplx::core::acknowledged(reply)) {
            failTransfer(window, MSG_HANDSHAKE_NOT_RECEIVED);
        }
    }

    if (transfer.active) {
        transfer.stepIndex += 1;
        if (transfer.stepIndex == transfer.stepCount) {
            transfer.progress = transfer.stepCount;
            InvalidateRect(window, NULL, TRUE);
            showMessage(MSG_TRANSFER_COMPLETE, STYLE_INFORMATION);
            transfer.active = 0;
            KillTimer(window, STEP_TIMER);
            InvalidateRect(window, NULL, TRUE);
        }
    }

    transfer.busy = 0;
    if (!transfer.active) {
        InvalidateRect(window, NULL, FALSE);
        closeTransferPort(port);
    }
}

void routeTransferTimer(HWND window, UINT_PTR timerId)
{
    if (!transfer.active)
        return;
    if (timerId == STEP_TIMER) {
        if (!transfer.settling)
            transferStep(window);
    } else if (timerId == SETTLE_TIMER) {
        KillTimer(window, SETTLE_TIMER);
        transfer.settling = 0;
    }
}
