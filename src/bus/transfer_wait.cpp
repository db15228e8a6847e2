#include "bus/transfer_wait.h"

#include <cerrno>

#include "bus/bus_errors.h"
#include "bus/gpib_transport.h"
#include "bus/timer.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"

namespace kelvo {

namespace {

// The driver's timeout code for 10 ms. A wait asks the driver to block until the
// transfer completes or this slice has passed, so the program sleeps in the
// driver (in the kernel with the Linux driver) instead of polling: a completion
// is seen as it happens, and between slices the window's events, ESC and the
// clock are heard, well within 50 ms.
constexpr int kSliceTimeoutCode = 7;
constexpr std::int32_t kWaitMask = kStatusCmpl | kStatusTimo;

}  // namespace

std::int16_t WaitForCompletion(BusContext& s, std::int32_t expectedCount) {
    GpibBoardTransport& bus = GpibBus(s);
    GpibDriver& driver = bus.Driver();
    DriverStatus& last = driver.Status();
    const int ud = bus.Board().descriptor;
    s.TransferWaitActive = true;
    s.TransferAbort = false;
    std::int32_t outcome = 0;
    Host& host = s.host;
    // The board's own timeout stays as the program set it (it times its waits
    // itself); only the slices of this wait use the short one.
    const int programTimeout = driver.LastTimeoutCode();
    const bool sliced = (driver.ibtmo(ud, kSliceTimeoutCode) & kStatusErr) == 0;
    bool collected = false;
    for (;;) {
        // With the slice set, a wait with CMPL in its mask also settles the
        // transfer's count and error, as the completion left them. Without it
        // (a driver that refused the timeout) the wait is a plain poll.
        const std::int32_t status = sliced ? driver.ibwait(ud, kWaitMask) : driver.ibwait(ud, 0);
        if (status & kStatusCmpl) {
            collected = sliced;
            break;
        }
        // A wait that itself fails (no driver, a lost board) will never show the
        // completion: report it now. A signal that cut a wait short in the
        // kernel (ESC in kelvo-cli) is no failure: the pass goes on to see it.
        const bool interrupted = sliced && last.iberr == kErrDos && last.ibcntl == EINTR;
        if ((status & kStatusErr) != 0 && !interrupted) break;
        if (s.TransferAbort) {
            outcome = kErrKeyboardAbort;
            break;
        }
        if (s.Settings.TimeoutMs > 0 && ElapsedMs(s) > static_cast<std::uint32_t>(s.Settings.TimeoutMs)) {
            outcome = kErrTimeout;
            break;
        }
        PumpMessages(s);
        // A sliced wait has already slept in the driver; a plain poll sleeps here.
        if (!s.TransferAbort && !sliced) host.Idle();
    }
    s.TransferWaitActive = false;
    if (sliced) {
        // Putting the timeout back is a driver call of its own: the wait's
        // status values are kept across it. A slice that ran out together with
        // the completion does not count as a timeout.
        DriverStatus kept = last;
        kept.ibsta &= ~(collected ? kStatusTimo : 0);
        (void)driver.ibtmo(ud, programTimeout);
        last = kept;
    }

    if (outcome != 0) {
        driver.ibstop(ud);
        last.ibsta |= kStatusErr;
        last.iberr = outcome;
        ReportGpibError(s);
        return 1;
    }
    if ((last.ibsta & kStatusCmpl) == 0) return ReportGpibError(s);  // the poll failed

    // The transfer's own count and error, as the completion left them: any
    // further call would reset them with the Linux driver's library.
    if (!collected) driver.CollectCompletion(ud, expectedCount > 1);
    if (expectedCount > 1) {
        if (last.ibcntl != expectedCount) {
            last.ibsta |= kStatusErr;
            if (last.iberr == 0) last.iberr = kErrShortTransfer;
            ReportGpibError(s);
            return 1;
        }
        ReportGpibError(s);
        return 0;
    }
    if (expectedCount == 1) {
        // iberr is only meaningful with ERR: a driver may leave an old code there.
        const bool failed = (last.ibsta & kStatusErr) != 0 && last.iberr == kErrNoListeners;
        if (failed) last.ibsta |= kStatusErr;
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
    if (s.CommandFileActive != 0 || GpibBus(s).Board().unavailable) return;
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
