#include "console/program_state.h"

namespace kelvo {

void ResetProgramState() {
    ErrorFlag = 0;
    ErrorCount = 0;
    ExitRequested = 0;
    ResponseFileActive = 0;
    CommandBusy = 0;
    KeyWaitActive = 0;
    TransferWaitActive = 0;
    TransferAbort = 0;
    CommandFileActive = 0;
    CommandFileAbort = 0;
    WaitInProgress = 0;
    WinsockAvailable = 1;
    ResponseFile = nullptr;
}

}  // namespace kelvo
