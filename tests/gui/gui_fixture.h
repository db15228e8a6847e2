// Shared by the desktop program's tests: a host that records beeps and lets a
// test act while a command line is running, and a window on a history file of
// the test's own.
#pragma once

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instsim_process.h"

#include "app/console_view.h"
#include "app/gui_host.h"
#include "app/main_window.h"
#include "console/console.h"
#include "bus/interface_settings.h"
#include "console/program_state.h"
#include "script/session.h"

namespace kelvo::gui_test {

using Beeps = std::vector<std::pair<unsigned, unsigned>>;
inline const std::pair<unsigned, unsigned> kWarningBeep{1661, 100};
inline const std::pair<unsigned, unsigned> kErrorBeep{1661, 157};

// The real host, but beeps are recorded instead of sounded, and every pump may
// run the test's own action (what a user would do while the line runs).
class RecordingHost : public app::GuiHost {
public:
    using GuiHost::GuiHost;
    void Beep(unsigned hz, unsigned ms) override { beeps.emplace_back(hz, ms); }
    void PumpMessages() override {
        GuiHost::PumpMessages();
        if (onPump) onPump();
    }

    Beeps beeps;
    std::function<void()> onPump;
};

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How many lines the history holds.
inline int Entries(const CommandHistory& history) {
    int n = 0;
    for (const auto& entry : history.entries) n += entry[0] != '\0';
    return n;
}

// kelvo-instsim's multimeter on a free port of 127.0.0.1: it greets, takes every
// message and never answers.
class HungInstrument {
public:
    HungInstrument()
        : trace_(dir_.filePath(QStringLiteral("trace.txt"))),
          process_({"--listen", "127.0.0.1:0", "--hang", "--trace", trace_.toStdString()}, "\n") {}

    // Makes `s` reach it.
    void Use(Session& s) const {
        s.Settings.Protocol = BusProtocol::TcpIp;
        s.Settings.Lan = LanProtocol::Greeting;
        s.Settings.TcpPort = static_cast<std::uint16_t>(process_.Port(""));
    }
    // Whether it received `text` (in one piece).
    bool Got(const QByteArray& text) const {
        QFile file(trace_);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toHex(' '));
    }

private:
    QTemporaryDir dir_;
    QString trace_;
    testsupport::InstsimProcess process_;
};

class Window {
public:
    // The display starts empty unless `keepFirstStartHint` (a first start
    // writes a hint there).
    explicit Window(const QString& historyPath = {}, bool keepFirstStartHint = false) {
        path_ = historyPath.isEmpty() ? dir_.filePath(QStringLiteral("kelvo.HIS")) : historyPath;
        window_ = std::make_unique<app::MainWindow>(path_.toStdString(), [this](app::ConsoleView& view) {
            auto host = std::make_unique<RecordingHost>(view);
            host_ = host.get();
            return host;
        });
        latest_ = this;
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        window_->View().setFocus();
        if (!keepFirstStartHint) window_->Store().ClearDisplay();
    }
    ~Window() {
        if (latest_ == this) latest_ = nullptr;
    }

    app::MainWindow& operator*() { return *window_; }
    app::MainWindow* operator->() { return window_.get(); }
    app::ConsoleView& View() { return window_->View(); }
    RecordingHost& Host() { return *host_; }
    QString HistoryPath() const { return path_; }

    void Type(const char* text) { QTest::keyClicks(&View(), QString::fromLatin1(text)); }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(&View(), key, modifiers); }
    // Types a line and presses Enter.
    void Enter(const char* text) {
        Type(text);
        Key(Qt::Key_Return);
    }
    std::string EditText() const {
        const EditLine& edit = window_->View().Edit();
        return std::string(edit.Row() + 1, static_cast<std::size_t>(edit.EditEnd() - 1));
    }
    // The completed display lines of the window made last, each ended by "\n".
    static std::string DisplayText() {
        std::string all;
        for (int i = 0; latest_ != nullptr && i < latest_->window_->Store().CurrentLine(); ++i)
            all += std::string(latest_->window_->Store().Line(i).text, latest_->window_->Store().Line(i).length) + "\n";
        return all;
    }

private:
    inline static Window* latest_ = nullptr;
    QTemporaryDir dir_;
    QString path_;
    std::unique_ptr<app::MainWindow> window_;
    RecordingHost* host_ = nullptr;
};

}  // namespace kelvo::gui_test
