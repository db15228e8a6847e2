// The window as a desktop console: selecting, copying and pasting, the long edit
// line, zoom, the status bar, the settings file and the first-start hint.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

#include "bus/interface_settings.h"
#include "console/settings_file.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

// A listener on the loopback address that never accepts: a connection to it is
// made by the kernel, and no greeting ever comes.
class MuteListener {
public:
    MuteListener() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 4);
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~MuteListener() { close(fd_); }
    std::uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

// The middle of the cell at `column` of display line `line` (row line + 1).
QPoint Cell(const Window& w, int line, int column) {
    auto& view = const_cast<Window&>(w).View();
    return {column * view.CellWidth() + view.CellWidth() / 4, (line + 1) * view.CellHeight() + view.CellHeight() / 2};
}
// The boundary before `column`.
QPoint Edge(Window& w, int line, int column) {
    return {column * w.View().CellWidth(), (line + 1) * w.View().CellHeight() + w.View().CellHeight() / 2};
}

void Drag(Window& w, QPoint from, QPoint to) {
    QWidget* port = w.View().viewport();
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(port, to);
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, to);
}

void ShowLines(Window& w, std::initializer_list<const char*> lines) {
    w->Store().ClearDisplay();
    for (const char* line : lines) {
        w->Store().PrintText(kAttrValue, line);
        w->Store().PrintNewLine();
    }
}

int Entries(const CommandHistory& history) {
    int n = 0;
    for (const auto& entry : history.entries) n += entry[0] != '\0' ? 1 : 0;
    return n;
}

QString Clipboard() { return QApplication::clipboard()->text(); }

}  // namespace

class ClipboardTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::clipboard()->clear(); }

    void dragSelectsAndCopyKeysCopyTheSelection() {
        Window w;
        ShowLines(w, {"first line", "KELVO,MODEL 1,42", "third"});
        // From "MODEL" on line 1 to "thi" on line 2.
        Drag(w, Edge(w, 1, 6), Edge(w, 2, 3));
        QVERIFY(w.View().HasSelection());
        QCOMPARE(w.View().SelectedText(), QStringLiteral("MODEL 1,42\nthi"));
        w.Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Clipboard(), QStringLiteral("MODEL 1,42\nthi"));

        // Ctrl+C and Ctrl+Insert copy a selection too.
        Drag(w, Edge(w, 0, 0), Edge(w, 0, 5));
        w.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("first"));
        Drag(w, Edge(w, 0, 6), Edge(w, 0, 99));  // past the end: to the end
        w.Key(Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("line"));
        QCOMPARE(w.EditText(), std::string());

        // A click without a drag selects nothing; Ctrl+C is then no key at all.
        QTest::mouseClick(w.View().viewport(), Qt::LeftButton, Qt::NoModifier, Cell(w, 0, 2));
        QVERIFY(!w.View().HasSelection());
        w.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("line"));
        QCOMPARE(w.EditText(), std::string());
        QVERIFY(w.Host().beeps.empty());
    }

    void doubleClickTakesAWordAndTripleClickALine() {
        Window w;
        ShowLines(w, {"KELVO,MODEL 1,42  next"});
        QWidget* port = w.View().viewport();
        QTest::mouseDClick(port, Qt::LeftButton, Qt::NoModifier, Cell(w, 0, 19));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("next"));
        QTest::mouseDClick(port, Qt::LeftButton, Qt::NoModifier, Cell(w, 0, 3));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("KELVO,MODEL"));
        QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, Cell(w, 0, 3));
        QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, Cell(w, 0, 3));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("KELVO,MODEL 1,42  next"));
    }

    void theEditRowSelectsOnItsOwnAndEditingDropsIt() {
        Window w;
        w.Type("OUTPUT 5;*RST");
        QWidget* port = w.View().viewport();
        const int cell = w.View().CellWidth();
        Drag(w, QPoint(1 * cell, 4), QPoint(9 * cell, 4 + 3 * cell));  // dragged down: stays on the row
        QCOMPARE(w.View().SelectedText(), QStringLiteral("OUTPUT 5"));
        // The context menu's Copy, with the focus gone to the menu meanwhile.
        std::unique_ptr<QMenu> menu(w.View().MakeContextMenu(nullptr));
        w.View().clearFocus();
        QVERIFY(menu->actions()[0]->isEnabled());
        menu->actions()[0]->trigger();
        QCOMPARE(Clipboard(), QStringLiteral("OUTPUT 5"));
        w.View().setFocus();
        QApplication::clipboard()->clear();
        w.Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Clipboard(), QStringLiteral("OUTPUT 5"));
        w.Type("x");
        QVERIFY(!w.View().HasSelection());
        // A double click on the row takes the word.
        QTest::mouseDClick(port, Qt::LeftButton, Qt::NoModifier, QPoint(3 * cell, 4));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("OUTPUT"));
    }

    void copyAllAndControlBytesAsTheyAreShown() {
        Window w;
        ShowLines(w, {"A\x01" "B\x7f", "", "end"});
        w.View().CopyAll();
        QCOMPARE(Clipboard(), QString::fromUtf8("A\u2401B\u2421\n\nend\n"));
        // The context menu offers the same.
        std::unique_ptr<QMenu> menu(w.View().MakeContextMenu(nullptr));
        QStringList items;
        for (QAction* action : menu->actions())
            if (!action->isSeparator()) items << action->text();
        QCOMPARE(items, (QStringList{"&Copy", "Copy &All", "&Paste", "Zoom &In", "Zoom &Out", "&Normal Size"}));
        QVERIFY(!menu->actions()[0]->isEnabled());  // nothing selected
        QApplication::clipboard()->clear();
        menu->actions()[1]->trigger();
        QCOMPARE(Clipboard(), QString::fromUtf8("A\u2401B\u2421\n\nend\n"));
    }

    void pasteOfOneLineOnlyTypesIt() {
        Window w;
        w.Type("OUT");
        QApplication::clipboard()->setText(QStringLiteral("PUT 5;\tx"));
        w.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.EditText(), std::string("OUTPUT 5; x"));  // a tab is a blank
        QCOMPARE(Entries(w->History()), 0);
        w.Key(Qt::Key_Escape);
        w.Key(Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(w.EditText(), std::string("PUT 5; x"));
    }

    void pasteOfSeveralLinesRunsEachInTurn() {
        Window w;
        Session& s = w->TheSession();
        QApplication::clipboard()->setText(QStringLiteral("tm\r\nbeep on\nbeep off\nend"));
        w.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Entries(w->History()), 3);
        QCOMPARE(std::string(w->History().entries[0]), std::string("TM"));
        QCOMPARE(std::string(w->History().entries[1]), std::string("BEEP ON"));
        QCOMPARE(std::string(w->History().entries[2]), std::string("BEEP OFF"));
        QCOMPARE(s.Settings.BeepEnabled, false);  // the last run line turned it off
        QCOMPARE(w.EditText(), std::string("end"));       // the last piece waits for Enter
    }

    void pasteStopsAtTheFirstRefusedLine() {
        Window w;
        Session& s = w->TheSession();
        const QString tooLong(255, QLatin1Char('a'));
        QApplication::clipboard()->setText(QStringLiteral("beep on\n") + tooLong + QStringLiteral("\nbeep off\n"));
        w.Type("12345");
        w.Key(Qt::Key_Escape);
        w.Type("1234567");
        w.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        // "1234567beep on" ran (an unknown command), then the long line did not fit.
        QCOMPARE(Entries(w->History()), 1);
        QCOMPARE(s.Settings.BeepEnabled, false);
        QCOMPARE(w.EditText(), std::string("1234567BEEP ON"));
        QVERIFY2(w->statusBar()->currentMessage().contains(QStringLiteral("line 2")),
                 qPrintable(w->statusBar()->currentMessage()));
        QCOMPARE(w.Host().beeps.back(), kWarningBeep);

        w.Key(Qt::Key_Escape);
        QVERIFY(!w.View().Paste(QString::fromUtf8("beep on\nbe\u00e9p")));
        QCOMPARE(s.Settings.BeepEnabled, true);
        QCOMPARE(w.EditText(), std::string("BEEP ON"));
        QVERIFY(w->statusBar()->currentMessage().contains(QStringLiteral("U+00e9")));
    }

    void zoomChangesTheGridAndIsRemembered() {
        QTemporaryDir dir;
        const QString history = dir.filePath(QStringLiteral("kelvo.HIS"));
        int zoomed = 0;
        {
            Window w(history);
            const int points = w.View().FontPointSize();
            const int columns = w->Store().VisibleColumns();
            w.Key(Qt::Key_Plus, Qt::ControlModifier);
            w.Key(Qt::Key_Equal, Qt::ControlModifier);
            QCOMPARE(w.View().FontPointSize(), points + 2);
            QVERIFY(w->Store().VisibleColumns() < columns);
            QCOMPARE(w->Store().CellWidth(), w.View().CellWidth());
            w.Key(Qt::Key_0, Qt::ControlModifier);
            QCOMPARE(w.View().FontPointSize(), points);
            QCOMPARE(w->Store().VisibleColumns(), columns);
            w.Key(Qt::Key_Minus, Qt::ControlModifier);
            QCOMPARE(w.View().FontPointSize(), points - 1);
            QWheelEvent wheel(QPointF(10, 10), w.View().viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                              QPoint(0, 240), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w.View().viewport(), &wheel);
            QCOMPARE(w.View().FontPointSize(), points);
            w.View().ZoomIn();
            w.View().ZoomIn();
            w.View().ZoomIn();
            zoomed = w.View().FontPointSize();
            for (int i = 0; i < 100; ++i) w.View().ZoomIn();
            QCOMPARE(w.View().FontPointSize(), app::ConsoleView::kMaxPoints);
            w.View().SetFontPointSize(zoomed);
            w->close();
        }
        SettingsFile file;
        QVERIFY(file.Load(SettingsFileBeside(history.toStdString())));
        QCOMPARE(file.Integer("font.size", 1, 100, 0), std::int64_t{zoomed});
        QVERIFY(file.Integer("window.width", 1, 100000, 0) > 0);
        Window again(history);
        QCOMPARE(again.View().FontPointSize(), zoomed);
    }

    void aBadSettingsFileGivesDefaults() {
        QTemporaryDir dir;
        const QString history = dir.filePath(QStringLiteral("kelvo.HIS"));
        std::ofstream(SettingsFileBeside(history.toStdString())) << "font.size=999\nwindow.width=-5\nmine=1\n";
        Window w(history);
        QCOMPARE(w.View().FontPointSize(), w.View().DefaultFontPointSize());
        w->close();
        SettingsFile file;
        QVERIFY(file.Load(SettingsFileBeside(history.toStdString())));
        QCOMPARE(file.Text("mine"), std::string("1"));  // an unknown key is kept
        QCOMPARE(file.Integer("font.size", 1, 100, 0), std::int64_t{w.View().DefaultFontPointSize()});
    }

    void theWindowsSizeAndPlaceAreRemembered() {
        QTemporaryDir dir;
        const QString history = dir.filePath(QStringLiteral("kelvo.HIS"));
        {
            Window w(history);
            w->RestoreGeometry();  // nothing remembered yet: the first start's place
            QCOMPARE(w->pos(), QPoint(100, 100));
            w->resize(700, 500);
            w->move(40, 30);
            w->close();
        }
        SettingsFile file;
        QVERIFY(file.Load(SettingsFileBeside(history.toStdString())));
        QCOMPARE(file.Integer("window.width", 1, 100000, 0), std::int64_t{700});
        QCOMPARE(file.Integer("window.height", 1, 100000, 0), std::int64_t{500});
        QCOMPARE(file.Flag("window.maximized", true), false);
        Window again(history);
        again->RestoreGeometry();
        QCOMPARE(again->size(), QSize(700, 500));
        QCOMPARE(again->pos(), QPoint(40, 30));

        // A place no screen shows any more falls back to the first start's.
        file.SetInteger("window.x", 15000);
        QVERIFY(file.Save(SettingsFileBeside(history.toStdString())));
        Window third(history);
        third->RestoreGeometry();
        QCOMPARE(third->pos(), QPoint(100, 100));
    }

    void theStatusBarInEachState() {
        Window w;
        Session& s = w->TheSession();
        QCOMPARE(w->StateText(), QStringLiteral("Ready"));
        QCOMPARE(w->SettingsText(), QStringLiteral("GPIB device 6  |  no timeout  |  end LF"));
        w.Enter("timeout 3");
        w.Key(Qt::Key_Escape);
        w.Enter("end crlf");
        QCOMPARE(w->SettingsText(), QStringLiteral("GPIB device 6  |  timeout 3 s  |  end CR LF"));

        // Waiting for the greeting of an instrument that never sends it.
        MuteListener listener;
        s.Settings.Protocol = BusProtocol::TcpIp;
        s.Settings.TcpPort = listener.Port();
        s.Settings.TimeoutMs = 0;
        QStringList seen;
        w.Host().onPump = [&] {
            w->RefreshStatus();
            seen << w->StateText();
            if (s.TransferWaitActive != 0) w.Key(Qt::Key_Escape);
        };
        w.Key(Qt::Key_Escape);
        w.Enter("ENTER ;*IDN?");
        QVERIFY(seen.contains(QStringLiteral("Waiting for response\u2026")));
        QCOMPARE(w->StateText(), QStringLiteral("Ready"));
        QCOMPARE(w->SettingsText(),
                 QStringLiteral("TCP/IP 127.0.0.1:%1  |  no timeout  |  end CR LF").arg(listener.Port()));

        // A command file waiting: running, not waiting for a response.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("W.TXT"));
        std::ofstream(file.toStdString()) << "WAIT 100\n";
        seen.clear();
        w.Host().onPump = [&] {
            w->RefreshStatus();
            seen << w->StateText();
            if (s.CommandFileActive != 0 && s.WaitInProgress != 0) w.Key(Qt::Key_Escape);
        };
        w.Key(Qt::Key_Escape);
        w.Enter(("RUN " + file.toStdString()).c_str());
        QVERIFY(seen.contains(QStringLiteral("Running\u2026")));
        QVERIFY(!seen.contains(QStringLiteral("Waiting for response\u2026")));
        w.Host().onPump = nullptr;
    }

    void theFirstStartShowsAHintAndLaterStartsDoNot() {
        QTemporaryDir dir;
        const QString history = dir.filePath(QStringLiteral("kelvo.HIS"));
        {
            Window w(history, true);
            const std::string shown = Window::DisplayText();
            QVERIFY2(shown.find("F1") != std::string::npos && shown.find("Interface") != std::string::npos &&
                         shown.find("e 5;*idn?") != std::string::npos,
                     shown.c_str());
            for (const std::string& line : Window::Display()) QVERIFY(line.size() < 80);
            w->close();
        }
        Window again(history, true);
        QCOMPARE(Window::DisplayText(), std::string());
    }
};

QTEST_MAIN(ClipboardTest)
#include "clipboard_view_test.moc"
