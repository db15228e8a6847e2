// What the bus layer of a session adds: the command's device address, the
// operation being carried out and its timer.
#pragma once

#include <cstdint>
#include <memory>

#include "bus/bus_codes.h"
#include "interp/interp_context.h"

namespace kelvo {

// The operation timer every bus operation runs.
class BusConnections;

struct OperationTimer {
    std::uint32_t startTick = 0;
    std::uint32_t lastElapsed = 0;
    bool active = false;
};

class BusContext : public InterpContext {
public:
    BusContext(Console& display, Host& platform);
    ~BusContext();

    // The ways of reaching the instrument, and the one the settings select.
    BusConnections& Connections() { return *connections_; }

    // The device address of the command in progress.
    std::int16_t CurrentDeviceAddress = 0;
    // Set while InitInterface runs, so that an error report does not start it again.
    bool SetupRunning = false;
    // The bus operation in progress, named by error reports.
    BusOperationCode BusOperation = BusOperationCode::None;
    // The outcome of the last TCP/IP wait.
    TcpWaitOutcome TcpError = TcpWaitOutcome::None;
    OperationTimer Timer;

private:
    std::unique_ptr<BusConnections> connections_;
};

}  // namespace kelvo
