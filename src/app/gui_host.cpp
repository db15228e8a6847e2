#include "app/gui_host.h"

#include <QCoreApplication>
#include <QThread>

#include "app/beeper.h"
#include "app/console_view.h"

namespace kelvo::app {

GuiHost::GuiHost(ConsoleView& view) : view_(view) { clock_.start(); }

void GuiHost::Beep(unsigned hz, unsigned ms) { beeper_.PlayTone(hz, ms); }

void GuiHost::PumpMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

std::uint32_t GuiHost::TickCount() { return static_cast<std::uint32_t>(clock_.elapsed()); }

void GuiHost::Idle() { QThread::usleep(1000); }

void GuiHost::WaitForEvent(ProgramState&) { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

void GuiHost::DrawPiece(int line, int x, std::string_view text, int attribute) {
    view_.DrawPiece(line, x, text, attribute);
}

void GuiHost::BlankLineSpan(int line, int column, int count) { view_.BlankLineSpan(line, column, count); }

void GuiHost::ClearToLineEnd(int line, int column) { view_.ClearToLineEnd(line, column); }

void GuiHost::ClearOutputArea() { view_.ClearOutputArea(); }

void GuiHost::StoreChanged() { view_.UpdateScrollRanges(); }

}  // namespace kelvo::app
