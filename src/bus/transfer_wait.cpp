#include "bus/transfer_wait.h"

#include "bus/bus_errors.h"
#include "bus/gpib_driver.h"
#include "bus/interface_settings.h"
#include "bus/timer.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"

namespace kelvo {

std::int16_t WaitForCompletion(BusContext& s, std::int32_t expectedCount) {
    const int ud = BoardDescriptor;
    s.TransferWaitActive = 1;
    s.TransferAbort = 0;
    std::int32_t outcome = 0;
    Host& host = s.host;
    for (;;) {
        const std::int32_t status = gpib::ibwait(ud, 0);
        if (status & kStatusCmpl) break;
        // A poll that itself fails (no driver, a lost board) will never show the
        // completion: report it now.
        if (status & kStatusErr) break;
        if (s.TransferAbort != 0) {
            outcome = kErrKeyboardAbort;
            break;
        }
        if (s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs)) {
            outcome = kErrTimeout;
            break;
        }
        // Handle the window's events, then sleep: the driver's poll is cheap, but
        // asking it without a pause would keep a core busy for the whole wait.
        // One millisecond keeps a completion, ESC and a close request prompt.
        PumpMessages(s);
        if (s.TransferAbort == 0) host.Idle();
    }
    s.TransferWaitActive = 0;

    if (outcome != 0) {
        gpib::ibstop(ud);
        ibsta |= kStatusErr;
        iberr = outcome;
        ReportGpibError(s);
        return 1;
    }
    if ((ibsta & kStatusCmpl) == 0) return ReportGpibError(s);  // the poll failed

    // The transfer's own count and error, as the completion left them: any
    // further call would reset them with the Linux driver's library.
    gpib::CollectCompletion(ud, expectedCount > 1);
    if (expectedCount > 1) {
        if (ibcntl != expectedCount) {
            ibsta |= kStatusErr;
            if (iberr == 0) iberr = kErrShortTransfer;
            ReportGpibError(s);
            return 1;
        }
        ReportGpibError(s);
        return 0;
    }
    if (expectedCount == 1) {
        // iberr is only meaningful with ERR: a driver may leave an old code there.
        const bool failed = (ibsta & kStatusErr) != 0 && iberr == kErrNoListeners;
        if (failed) ibsta |= kStatusErr;
        ReportGpibError(s);
        return failed ? 1 : 0;
    }
    ReportGpibError(s);
    return 0;
}

std::int16_t AwaitTransfer(BusContext& s, std::int32_t startStatus, std::int32_t expectedCount) {
    if (startStatus & kStatusErr) {
        ReportGpibError(s);
        return 1;
    }
    return WaitForCompletion(s, expectedCount);
}

void ShowWaiting(BusContext& s) {
    // Without a board (reported once for the line) nothing will be waited for.
    if (s.CommandFileActive != 0 || BoardUnavailable != 0) return;
    PrintText(s, kAttrStatus, "Waiting for completion...");
    ReturnToLineStart(s);
}

void ShowDone(BusContext& s) {
    if (s.CommandFileActive != 0) return;
    PrintText(s, kAttrStatus, "Done");
    ClearToLineEnd(s);
    PrintNewLine(s);
}

}  // namespace kelvo
