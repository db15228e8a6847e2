// The codes the bus layer of a session keeps: the operation in progress and the
// outcome of the last TCP/IP wait. Their numbers are the keys of the error
// report's message tables.
#pragma once

#include <cstdint>

namespace kelvo {

// The bus operation in progress, named in error reports. Handlers set it right
// before the call that the report is about.
enum class BusOperationCode : std::int16_t {
    None = 0,
    ParallelPoll = 1,
    SerialPoll = 2,
    InputString = 3,
    OutputString = 4,
    ReceiveBytes = 5,
    SendCommandList = 6,
    SendDataList = 7,
    DeviceClear = 8,
    EndMessage = 9,
    Trigger = 10,
    GoToLocal = 11,
    InterfaceClear = 12,
    ListenAddress = 13,
    LocalLockout = 14,
    ParallelPollDisable = 15,
    ParallelPollEnable = 16,
    ParallelPollUnconfigure = 17,
    SelectedDeviceClear = 18,
    SerialPollDisable = 19,
    SerialPollEnable = 20,
    TalkAddress = 21,
    BoardAddress = 22,
    SetTimeout = 23,
    AutopollOff = 24,
    InterruptsOn = 25,
    DmaOn = 26,
    AutoEoiOff = 27,
    NoAutoEos = 28,
    NoSecondaryAddress = 29,
    RemoteEnableFalse = 30,
    RemoteEnableTrue = 31,
    SlowTiming = 32,
    TakeControl = 33,
    ConnectSocket = 34,
    FindBoard = 35,
};

// The outcome of a TCP/IP wait. Timeout and KeyboardAbort share their numbers
// with the driver's error codes, and so their messages.
enum class TcpWaitOutcome : std::int16_t {
    None = 0,
    Timeout = 128,
    KeyboardAbort = 129,
    WaitFailed = 131,
    ClosedByInstrument = 132,
    CouldNotConnect = 133,
};

}  // namespace kelvo
