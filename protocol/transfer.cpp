#include "protocol/transfer.h"

#include "app/messages.h"
#include "payload/self_image.h"
#include "protocol/packet.h"
#include "usb/com_access.h"

#include <string.h>

TransferState transfer;

static const char databaseCommand[] = "DATABASE";
static const char endCommand[] = "END";
static const char successText[] = "SUCCESS";

void stopTimers(HWND window)
{
    KillTimer(window, STEP_TIMER);
    KillTimer(window, SETTLE_TIMER);
    transfer.active = 0;
}

void startTransfer(HWND window)
{
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
    port.closePort();
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
    DWORD total = 0;
    int emptyReads = 0;
    while (total < 1 && emptyReads < 2) {
        DWORD n = 0;
        if (port.readBytes(reply, replyLength) == FT_OK)
            n = port.bytesRead;
        if (n > replyLength)
            n = replyLength;   // never trust a count beyond what was asked for
        if (n != 0)
            total += n;
        else
            emptyReads++;
    }
}

// The END reply is confirmed by an ACK, or by the "SUCCESS" frame that follows it.
static bool endConfirmed(const unsigned char *reply)
{
    if (reply[0] == ACK || reply[1] == STX || reply[2] == sizeof successText - 1)
        return true;
    return memcmp(reply + 3, successText, sizeof successText - 1) == 0;
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
    int step = transfer.stepIndex;
    if (step == 0) {
        sendPacket(port, databaseCommand, sizeof databaseCommand - 1);
        return 1;
    }
    if (step == transfer.stepCount - 1) {
        sendPacket(port, endCommand, sizeof endCommand - 1);
        return END_REPLY_LENGTH;
    }
    unsigned char block[BLOCK_SIZE];
    copyBlock(step - 1, block);
    sendPacket(port, block, BLOCK_SIZE);
    return 1;
}

void transferStep(HWND window)
{
    if (!transfer.active || transfer.busy)
        return;
    transfer.busy = 1;
    ComAccess &port = *transfer.port;

    if (transfer.stepIndex == -1) {
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
            if (!endConfirmed(reply)) {
                // Not confirmed and no "SUCCESS": the meter did not take the database.
                failTransfer(window, MSG_TRANSFER_ERROR);
            }
        } else if (reply[0] != ACK) {
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
        port.closePort();
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
