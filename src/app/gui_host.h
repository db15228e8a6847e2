// The desktop program's Host: beeps through the sound server, message pumping
// through Qt's event loop, and the console's drawing requests to its view.
#pragma once

#include <QElapsedTimer>

#include "app/beeper.h"
#include "console/host.h"

namespace kelvo::app {

class ConsoleView;

class GuiHost : public Host {
public:
    explicit GuiHost(ConsoleView& view);

    void Beep(unsigned hz, unsigned ms) override;
    // Handles the pending events of the one GUI thread: painting, keys (ESC and
    // Ctrl+Break reach a running operation this way), the menus and close requests.
    void PumpMessages() override;
    std::uint32_t TickCount() override;
    void Idle() override;
    // PAUSE sleeps in the event loop until something happens, a key press or a
    // close request among it.
    void WaitForEvent(ProgramState& state) override;

    void DrawPiece(int line, int x, std::string_view text, int attribute) override;
    void BlankLineSpan(int line, int column, int count) override;
    void ClearToLineEnd(int line, int column) override;
    void ClearOutputArea() override;
    void StoreChanged() override;

    // Closes the connection to the sound server (the next beep opens it again).
    void CloseSound() { beeper_.Close(); }

protected:
    ConsoleView& view_;

private:
    QElapsedTimer clock_;
    Beeper beeper_;
};

}  // namespace kelvo::app
