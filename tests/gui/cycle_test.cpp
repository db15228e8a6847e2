// The command-line cycle in the window: Enter while a line runs, the interrupt
// keys and close requests of a running transfer, a command file and a PAUSE,
// and the ways the program ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "bus/interface_settings.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

// An instrument that greets, takes every message and never answers.
class SilentInstrument {
public:
    SilentInstrument() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        socklen_t size = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SilentInstrument() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }

    std::uint16_t Port() const { return port_; }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    bool Got(const std::string& text) { return Received().find(text) != std::string::npos; }

private:
    void Serve() {
        std::vector<int> clients;
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            for (const int c : clients) fds.push_back({c, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const int c = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    const char greeting[] = "100 Connection accepted\n";
                    [[maybe_unused]] auto n = send(c, greeting, sizeof greeting - 1, MSG_NOSIGNAL);
                    clients.push_back(c);
                }
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                char buffer[512];
                const ssize_t n = recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_.append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
        for (const int c : clients) close(c);
    }

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::string received_;
};

void UseInstrument(Session& s, const SilentInstrument& instrument) {
    s.Settings.Protocol = BusProtocol::TcpIp;
    s.Settings.TcpPort = instrument.Port();
}

bool Shows(const std::string& text) { return Window::DisplayText().find(text) != std::string::npos; }

}  // namespace

class CycleTest : public QObject {
    Q_OBJECT
private slots:

    void enterDuringARunningLineStoresItAndRunsNothing() {
        SilentInstrument instrument;
        Window w;
        Session& s = w->TheSession();
        UseInstrument(s, instrument);
        bool acted = false;
        int entries = 0;
        w.Host().onPump = [&] {
            if (acted || s.TransferWaitActive == 0 || !instrument.Got("*IDN?")) return;
            acted = true;
            w.Key(Qt::Key_Escape);  // the transfer listens for ESC: the edit line stays
            QCOMPARE(s.TransferAbort, true);
            s.TransferAbort = 0;       // (the abort is not what this test is about)
            w.Key(Qt::Key_Up);
            w.Type(" 1;NEXT");
            w.Key(Qt::Key_Return);
            entries = w->History().writeIndex;
            QCOMPARE(s.CommandBusy, true);
            s.TransferAbort = 1;  // now end the hung transfer
        };
        w.Enter("o 1;FIRST");
        w.Key(Qt::Key_Escape);
        w.Enter("ENTER ;*IDN?");
        QVERIFY(acted);
        QCOMPARE(entries, 3);
        QCOMPARE(std::string(w->History().entries[2]), std::string("OUTPUT 1;FIRST 1;NEXT"));
        QCOMPARE(w.EditText(), std::string("OUTPUT 1;FIRST 1;NEXT"));
        QTest::qWait(50);
        QVERIFY(!instrument.Got("NEXT"));  // stored, never run
        QCOMPARE(s.CommandBusy, false);
        QVERIFY(!w->HasEnded());
    }

    void escapeEndsAHungEnter() {
        SilentInstrument instrument;
        Window w;
        Session& s = w->TheSession();
        UseInstrument(s, instrument);
        w.Host().onPump = [&] {
            if (s.TransferWaitActive != 0 && instrument.Got("*IDN?")) w.Key(Qt::Key_Escape);
        };
        w.Enter("ENTER ;*IDN?");
        QVERIFY2(Shows("TCP/IP error"), Window::DisplayText().c_str());
        QCOMPARE(s.CommandBusy, false);
        QCOMPARE(s.TransferWaitActive, false);
        QCOMPARE(w.EditText(), std::string("ENTER ;*IDN?"));
        QVERIFY(!w->HasEnded());
        QCOMPARE(w.Host().beeps, Beeps{kErrorBeep});
    }

    // A dialog opened while a transfer waits does not hold the wait: the timeout
    // ends the line while the About box is still open.
    void aDialogDuringATransferLeavesItsTimeoutRunning() {
        SilentInstrument instrument;
        Window w;
        Session& s = w->TheSession();
        UseInstrument(s, instrument);
        s.Settings.TimeoutMs = 200;
        bool opened = false;
        w.Host().onPump = [&] {
            if (opened || s.TransferWaitActive == 0 || !instrument.Got("*IDN?")) return;
            opened = true;
            w->AboutCommand();
        };
        // Were the line held by the dialog, this ends it: the test then fails
        // instead of hanging.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        guard.start(5000);
        w.Enter("ENTER ;*IDN?");
        QVERIFY(opened);
        QVERIFY2(Shows("Terminated on timeout after "), Window::DisplayText().c_str());
        QWidget* about = QApplication::activeModalWidget();
        QVERIFY(about != nullptr && about->isVisible());
        about->close();
        QCOMPARE(s.CommandBusy, false);
    }

    // A close request or Ctrl+Break during a transfer: the line ends first, then
    // the program, silently and with the history saved.
    void closeOrCtrlBreakDuringATransferEndsTheProgramAfterTheLine() {
        for (const bool ctrlBreak : {false, true}) {
            SilentInstrument instrument;
            Window w;
            Session& s = w->TheSession();
            UseInstrument(s, instrument);
            bool endedDuringLine = false;
            w.Host().onPump = [&] {
                if (s.TransferWaitActive == 0 || !instrument.Got("*IDN?")) return;
                if (ctrlBreak) {
                    w.Key(Qt::Key_Pause, Qt::ControlModifier);
                } else {
                    w->close();
                }
                endedDuringLine = endedDuringLine || w->HasEnded();
            };
            w.Enter("ENTER ;*IDN?");
            QVERIFY(!endedDuringLine);
            QVERIFY(w->HasEnded());
            QVERIFY(!w->isVisible());
            QVERIFY(w.Host().beeps.empty());  // no beep once the end is asked for
            QCOMPARE(std::string(w->History().entries[0]), std::string("ENTER ;*IDN?"));
            QVERIFY(QFileInfo(w.HistoryPath()).size() == 6996);
        }
    }

    // A command file whose second line would show that the file went on.
    static std::string CommandFile(QTemporaryDir& dir, const char* first) {
        const std::string path = dir.filePath(QStringLiteral("steps.txt")).toStdString();
        std::ofstream(path) << first << "\r\nTIMEOUT 7\r\n";
        return path;
    }

    void closingDuringACommandFileAbortsTheFileOnly() {
        QTemporaryDir dir;
        const std::string file = CommandFile(dir, "WAIT 100");
        Window w;
        Session& s = w->TheSession();
        bool closed = false;
        w.Host().onPump = [&] {
            if (closed || s.CommandFileActive == 0 || s.WaitInProgress == 0) return;
            closed = true;
            w->close();
        };
        w.Enter(("RUN " + file).c_str());
        QVERIFY(closed);
        QVERIFY(!w->HasEnded());
        QVERIFY(w->isVisible());
        QCOMPARE(s.CommandFileActive, false);
        QVERIFY2(!Shows("GPIB timeout"), Window::DisplayText().c_str());  // the file went no further

        // ESC is the file's too, not the editor's, while the file runs.
        closed = false;
        w.Host().onPump = [&] {
            if (closed || s.CommandFileActive == 0 || s.WaitInProgress == 0) return;
            closed = true;
            w.Key(Qt::Key_Escape);
        };
        w.Key(Qt::Key_Return);
        QVERIFY(closed);
        QVERIFY(!w->HasEnded());
        QVERIFY2(!Shows("GPIB timeout"), Window::DisplayText().c_str());
        QCOMPARE(w.EditText(), QString::fromStdString("RUN " + file).toUpper().toStdString());
    }

    void aKeyEndsAPauseInACommandFile() {
        QTemporaryDir dir;
        const std::string file = CommandFile(dir, "PAUSE");
        Window w;
        Session& s = w->TheSession();
        // The key arrives while PAUSE sleeps in the event loop.
        QTimer::singleShot(50, [&] {
            QVERIFY(s.KeyWaitActive != 0);
            w.Type("q");
        });
        w.Enter(("RUN " + file).c_str());
        QCOMPARE(s.KeyWaitActive, false);
        QVERIFY2(Shows("GPIB timeout: 7 seconds"), Window::DisplayText().c_str());  // the file went on
        QCOMPARE(w.EditText(), QString::fromStdString("RUN " + file).toUpper().toStdString());  // the key was PAUSE's, not the editor's
        QVERIFY(!w->HasEnded());
    }

    void aCloseRequestEndsAPauseAndKeepsTheProgram() {
        Window w;
        Session& s = w->TheSession();
        s.KeyWaitActive = 1;
        w->close();
        QCOMPARE(s.KeyWaitActive, false);
        QVERIFY(!w->HasEnded());
        QVERIFY(w->isVisible());
    }

    void ctrlBreakAtThePromptEndsAtOnceWithTheHistorySaved() {
        Window w;
        w.Enter("A");
        // As an X server reports it: no Qt key, the Break keysym, Ctrl held.
        QKeyEvent breakKey(QEvent::KeyPress, 0, Qt::ControlModifier, 0, 0xff6b, 0);
        QCoreApplication::sendEvent(&w.View(), &breakKey);
        QVERIFY(w->HasEnded());
        QVERIFY(!w->isVisible());
        QVERIFY(QFileInfo(w.HistoryPath()).size() == 6996);
    }

    void xAtThePromptEndsTheProgram() {
        Window w;
        w.Enter("A");
        w.Key(Qt::Key_Escape);
        w.Enter("x");
        QVERIFY(w->HasEnded());
        QVERIFY(!w->isVisible());
        QVERIFY(QFileInfo(w.HistoryPath()).size() == 6996);
    }
};

QTEST_MAIN(CycleTest)
#include "cycle_test.moc"
