// The command-line cycle in the window: Enter while a line runs, the interrupt
// keys and close requests of a running transfer, a command file and a PAUSE,
// and the ways the program ends.
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include <fstream>

#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

bool Shows(const std::string& text) { return Window::DisplayText().find(text) != std::string::npos; }

// A command file whose second line would show that the file went on.
std::string CommandFile(QTemporaryDir& dir, const char* first) {
    const std::string path = dir.filePath(QStringLiteral("steps.txt")).toStdString();
    std::ofstream(path) << first << "\r\nTIMEOUT 7\r\n";
    return path;
}

std::string Upper(const std::string& text) { return QString::fromStdString(text).toUpper().toStdString(); }

// The program has ended, its window closed and the history saved.
void ExpectEnded(Window& w) {
    QVERIFY(w->HasEnded());
    QVERIFY(!w->isVisible());
    QCOMPARE(QFileInfo(w.HistoryPath()).size(), 6996);
}

}  // namespace

class CycleTest : public QObject {
    Q_OBJECT
private slots:
    // Enter while a transfer waits stores the line and runs nothing (a paste of
    // several lines is refused); ESC is the transfer's, which ends with its
    // error, the edit line kept.
    void enterDuringARunningLineStoresItAndEscapeEndsTheTransfer() {
        HungInstrument instrument;
        Window w;
        Session& s = w->TheSession();
        instrument.Use(s);
        int entries = 0;
        w.Host().onPump = [&] {
            if (entries != 0 || s.TransferWaitActive == 0 || !instrument.Got("*IDN?")) return;
            QVERIFY(!w.View().Paste(QStringLiteral("o 1;PASTED\nx")));  // several lines are refused
            w.Key(Qt::Key_Up);
            w.Type(" 1;NEXT");
            w.Key(Qt::Key_Return);
            entries = w->History().writeIndex;
            w.Key(Qt::Key_Escape);
        };
        w.Enter("o 1;FIRST");
        w.Key(Qt::Key_Escape);
        w.Enter("ENTER ;*IDN?");
        QCOMPARE(entries, 3);
        QCOMPARE(std::string(w->History().entries[2]), std::string("OUTPUT 1;FIRST 1;NEXT"));
        QCOMPARE(w.EditText(), std::string("OUTPUT 1;FIRST 1;NEXT"));
        QVERIFY(!instrument.Got("NEXT"));  // stored, never run
        QVERIFY2(Shows("TCP/IP error"), Window::DisplayText().c_str());
        QCOMPARE(w.Host().beeps, (Beeps{kWarningBeep, kErrorBeep}));  // the refused paste, the error
        QCOMPARE(s.CommandBusy, false);
        QVERIFY(!w->HasEnded());
    }

    // A dialog opened while a transfer waits does not hold the wait: the timeout
    // ends the line while the About box is still open.
    void aDialogDuringATransferLeavesItsTimeoutRunning() {
        HungInstrument instrument;
        Window w;
        Session& s = w->TheSession();
        instrument.Use(s);
        s.Settings.TimeoutMs = 200;
        bool opened = false;
        w.Host().onPump = [&] {
            if (opened || s.TransferWaitActive == 0 || !instrument.Got("*IDN?")) return;
            opened = true;
            w->AboutCommand();
        };
        // Were the line held by the dialog, this ends it: the test then fails
        // instead of hanging.
        QTimer::singleShot(5000, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        w.Enter("ENTER ;*IDN?");
        QVERIFY(opened);
        QVERIFY2(Shows("Terminated on timeout after "), Window::DisplayText().c_str());
        QWidget* about = QApplication::activeModalWidget();
        QVERIFY(about != nullptr && about->isVisible());
        about->close();
    }

    // A close request or Ctrl+Break during a transfer: the line ends first, then
    // the program, silently and with the history saved.
    void closeOrCtrlBreakDuringATransferEndsTheProgramAfterTheLine() {
        for (const bool ctrlBreak : {false, true}) {
            HungInstrument instrument;
            Window w;
            Session& s = w->TheSession();
            instrument.Use(s);
            bool endedDuringLine = false;
            w.Host().onPump = [&] {
                if (s.TransferWaitActive == 0 || !instrument.Got("*IDN?")) return;
                if (ctrlBreak) w.Key(Qt::Key_Pause, Qt::ControlModifier);
                else w->close();
                endedDuringLine = endedDuringLine || w->HasEnded();
            };
            w.Enter("ENTER ;*IDN?");
            QVERIFY(!endedDuringLine);
            ExpectEnded(w);
            QVERIFY(w.Host().beeps.empty());  // no beep once the end is asked for
            QCOMPARE(std::string(w->History().entries[0]), std::string("ENTER ;*IDN?"));
        }
    }

    // While a command file waits, a close request or ESC ends the file, not the
    // program; a key ends its PAUSE and the file goes on; the key is the file's,
    // not the editor's. A close request ends a PAUSE and keeps the program.
    void aCommandFileTakesTheKeysAndCloseRequests() {
        QTemporaryDir dir;
        Window w;
        Session& s = w->TheSession();
        for (const char act : {'c', 'e', 'k'}) {  // close, ESC, a key
            const std::string file = CommandFile(dir, act == 'k' ? "PAUSE" : "WAIT 100");
            bool acted = false;
            w.Host().onPump = [&] {
                if (acted || s.CommandFileActive == 0 || s.WaitInProgress == 0) return;
                acted = true;
                act == 'e' ? w.Key(Qt::Key_Escape) : (void)w->close();
            };
            if (act == 'k') QTimer::singleShot(50, [&] {  // while PAUSE sleeps in the event loop
                acted = s.KeyWaitActive != 0;
                w.Type("q");
            });
            w.Key(Qt::Key_Escape);
            w.Enter(("RUN " + file).c_str());
            QVERIFY(acted);
            QVERIFY(!w->HasEnded() && w->isVisible());
            QCOMPARE(s.CommandFileActive || s.KeyWaitActive, false);
            QCOMPARE(Shows("GPIB timeout: 7 seconds"), act == 'k');  // whether the file went on
            QCOMPARE(w.EditText(), Upper("RUN " + file));
        }
        s.KeyWaitActive = 1;
        w->close();
        QCOMPARE(s.KeyWaitActive, false);
        QVERIFY(!w->HasEnded() && w->isVisible());
    }

    // Ctrl+Break (as an X server reports it: no Qt key, the Break keysym, Ctrl
    // held) or X at the prompt ends the program at once.
    void ctrlBreakOrXAtThePromptEndsAtOnce() {
        for (const bool x : {false, true}) {
            Window w;
            w.Enter("A");
            w.Key(Qt::Key_Escape);
            if (x) {
                w.Enter("x");
            } else {
                QKeyEvent breakKey(QEvent::KeyPress, 0, Qt::ControlModifier, 0, 0xff6b, 0);
                QCoreApplication::sendEvent(&w.View(), &breakKey);
            }
            ExpectEnded(w);
        }
    }
};

QTEST_MAIN(CycleTest)
#include "cycle_test.moc"
