// The window as a desktop console: selecting, copying and pasting, zoom, the
// status bar, the settings file; the grid from the window size, the scroll
// ranges and steps, and output that does not move the view.
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

#include "console/settings_file.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

// The boundary before `column` of display line `line` (row line + 1), or a
// quarter into the cell.
QPoint At(Window& w, int line, int column, bool inCell = false) {
    const int cw = w.View().CellWidth(), ch = w.View().CellHeight();
    return {column * cw + (inCell ? cw / 4 : 0), (line + 1) * ch + ch / 2};
}

void Drag(Window& w, QPoint from, QPoint to) {
    QWidget* port = w.View().viewport();
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(port, to);
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, to);
}

void ShowLines(Window& w, std::initializer_list<const char*> lines) {
    for (const char* line : lines) {
        w->Store().PrintText(kAttrValue, line);
        w->Store().PrintNewLine();
    }
}

void WriteLines(Session& s, int count) {
    for (int i = 0; i < count; ++i) {
        PrintText(s, kAttrValue, "line ");
        PrintLong(s, kAttrWords, i);
        PrintNewLine(s);
    }
}

QString Clipboard() { return QApplication::clipboard()->text(); }
void SetClipboard(const QString& text) { QApplication::clipboard()->setText(text); }

SettingsFile SettingsOf(const QString& history) {
    SettingsFile file;
    [&] { QVERIFY(file.Load(SettingsFileBeside(history.toStdString()))); }();
    return file;
}

}  // namespace

class ConsoleWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::clipboard()->clear(); }

    void dragAndClicksSelectAndTheCopyKeysCopy() {
        Window w;
        ShowLines(w, {"first line", "KELVO,MODEL 1,42  next", "third"});
        Drag(w, At(w, 1, 6), At(w, 2, 3));  // from "MODEL" to "thi"
        QCOMPARE(w.View().SelectedText(), QStringLiteral("MODEL 1,42  next\nthi"));
        // Drawn: the selected cells on their background, the text in ink.
        const QImage shown = w.View().viewport()->grab().toImage();
        const auto background = [&](int line, int column) {
            const QPoint corner = At(w, line, column) - QPoint(-1, w.View().CellHeight() / 2 - 1);
            return shown.pixelColor(corner) != Qt::white;
        };
        const std::pair<int, int> selected[] = {{1, 6}, {1, 22}, {2, 0}, {2, 2}};
        const std::pair<int, int> plain[] = {{0, 5}, {1, 5}, {1, 23}, {2, 3}};
        for (const auto& [line, column] : selected) QVERIFY2(background(line, column), qPrintable(QString::number(column)));
        for (const auto& [line, column] : plain) QVERIFY2(!background(line, column), qPrintable(QString::number(column)));
        int ink = 0;
        for (int x = 0; x < 5 * w.View().CellWidth(); ++x)
            for (int y = w.View().CellHeight(); y < 2 * w.View().CellHeight(); ++y) ink += shown.pixelColor(x, y) != Qt::white;
        QVERIFY(ink > 20);  // "first"
        w.Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Clipboard(), QStringLiteral("MODEL 1,42  next\nthi"));
        Drag(w, At(w, 0, 0), At(w, 0, 5));
        w.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("first"));
        Drag(w, At(w, 0, 6), At(w, 0, 99));  // past the end: to the end
        w.Key(Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("line"));

        // A click selects nothing (Ctrl+C is then no key at all); a double click
        // the word of the cell, or of the blank right after it; a third click the line.
        QWidget* port = w.View().viewport();
        QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, At(w, 0, 2, true));
        QVERIFY(!w.View().HasSelection());
        w.Key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(Clipboard(), QStringLiteral("line"));
        QCOMPARE(w.EditText(), std::string());
        const std::tuple<int, int, const char*> words[] = {
            {1, 19, "next"}, {1, 17, ""}, {0, 30, "line"}, {1, 11, "KELVO,MODEL"}, {1, 3, "KELVO,MODEL"}};
        for (const auto& [line, column, word] : words) {
            QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, At(w, line, column, true));
            QTest::mouseDClick(port, Qt::LeftButton, Qt::NoModifier, At(w, line, column, true));
            QCOMPARE(w.View().SelectedText(), QString::fromLatin1(word));
        }
        QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, At(w, 1, 3, true));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("KELVO,MODEL 1,42  next"));
        QVERIFY(w.Host().beeps.empty());
    }

    // The line being written is drawn as far as it is written, nothing of the
    // line before it left.
    void theLineBeingWrittenShowsOnlyItsText() {
        Window w;
        ShowLines(w, {"abcdefgh"});
        w->Store().PrintText(kAttrValue, "x");
        const QImage shown = w.View().viewport()->grab().toImage();
        int ink[2] = {0, 0};  // in "x", and where the line before had "bcdefgh"
        for (int x = 0; x < 8 * w.View().CellWidth(); ++x)
            for (int y = 2 * w.View().CellHeight(); y < 3 * w.View().CellHeight(); ++y)
                ink[x >= w.View().CellWidth()] += shown.pixelColor(x, y) != Qt::white;
        QVERIFY(ink[0] > 0 && ink[1] == 0);
    }

    void theEditRowSelectsOnItsOwnAndEditingDropsIt() {
        Window w;
        w.Type("OUTPUT 5;*RST");
        const int cell = w.View().CellWidth();
        Drag(w, QPoint(1 * cell, 4), QPoint(9 * cell, 4 + 3 * cell));  // dragged down: stays on the row
        QCOMPARE(w.View().SelectedText(), QStringLiteral("OUTPUT 5"));
        // The context menu's Copy, with the focus gone to the menu meanwhile.
        std::unique_ptr<QMenu> menu(w.View().MakeContextMenu(nullptr));
        w.View().clearFocus();
        menu->actions()[0]->trigger();
        QCOMPARE(Clipboard(), QStringLiteral("OUTPUT 5"));
        w.View().setFocus();
        w.Type("x");
        QVERIFY(!w.View().HasSelection());
        QTest::mouseDClick(w.View().viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(3 * cell, 4));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("OUTPUT"));
        // Scrolled sideways, the row is selected and drawn where its text shows.
        w.Key(Qt::Key_Escape);
        w.Type((std::string(90, 'a') + " WORD").c_str());
        const int x = (92 - w.View().EditScroll()) * cell + cell / 4;  // in the "W"
        QTest::mouseDClick(w.View().viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 4));
        QCOMPARE(w.View().SelectedText(), QStringLiteral("WORD"));
        QVERIFY(w.View().viewport()->grab().toImage().pixelColor(x, 1) != Qt::white);
    }

    void copyAllShowsControlBytesAsTheyAreShown() {
        Window w;
        ShowLines(w, {"A\x01" "B\x7f", "", "end"});
        std::unique_ptr<QMenu> menu(w.View().MakeContextMenu(nullptr));
        menu->actions()[1]->trigger();
        QCOMPARE(Clipboard(), QString::fromUtf8("A\u2401B\u2421\n\nend\n"));
    }

    void pasteTypesALineAndRunsEachOfSeveral() {
        Window w;
        Session& s = w->TheSession();
        w.Type("OUT");
        SetClipboard(QStringLiteral("PUT 5;\tx"));
        w.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.EditText(), std::string("OUTPUT 5; x"));  // a tab is a blank
        w.Key(Qt::Key_Escape);
        w.Key(Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(w.EditText(), std::string("PUT 5; x"));
        QCOMPARE(Entries(w->History()), 0);

        w.Key(Qt::Key_Escape);
        SetClipboard(QStringLiteral("tm\r\nbeep on\rbeep off\nend"));
        w.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Entries(w->History()), 3);
        QCOMPARE(std::string(w->History().entries[0]), std::string("TM"));
        QCOMPARE(std::string(w->History().entries[2]), std::string("BEEP OFF"));
        QCOMPARE(s.Settings.BeepEnabled, false);     // the last run line turned it off
        QCOMPARE(w.EditText(), std::string("end"));  // the last piece waits for Enter

        // It stops at the first line it cannot type whole.
        w.Key(Qt::Key_Escape);
        SetClipboard(QStringLiteral("beep on\n") + QString(255, QLatin1Char('a')) + QStringLiteral("\nbeep off\n"));
        w.Type("1234567");
        w.Key(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        // "1234567beep on" ran (an unknown command), then the long line did not fit.
        QCOMPARE(Entries(w->History()), 4);
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
            QCOMPARE(w->Store().VisibleColumns(), columns);
            w.Key(Qt::Key_Minus, Qt::ControlModifier);
            QCOMPARE(w.View().FontPointSize(), points - 1);
            QWheelEvent wheel(QPointF(10, 10), w.View().viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                              QPoint(0, 240), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(w.View().viewport(), &wheel);
            QCOMPARE(w.View().FontPointSize(), points);
            zoomed = points + 3;
            for (int i = 0; i < 100; ++i) w.View().ZoomIn();
            QCOMPARE(w.View().FontPointSize(), app::ConsoleView::kMaxPoints);
            w.View().SetFontPointSize(zoomed);
            w->close();
        }
        QCOMPARE(SettingsOf(history).Integer("font.size", 1, 100, 0), std::int64_t{zoomed});
        Window again(history);
        QCOMPARE(again.View().FontPointSize(), zoomed);
    }

    // Kept beside the history file; a place no screen shows any more, or a bad
    // file, gives the first start's place.
    void theWindowsSizeAndPlaceAreRemembered() {
        QTemporaryDir dir;
        const QString history = dir.filePath(QStringLiteral("kelvo.HIS"));
        {
            Window w(history);
            w->resize(700, 500);
            w->move(40, 30);
            w->close();
        }
        QCOMPARE(SettingsOf(history).Flag("window.maximized", true), false);
        Window again(history);
        again->RestoreGeometry();
        QCOMPARE(QRect(again->pos(), again->size()), QRect(40, 30, 700, 500));
        for (const char* bad : {"window.x=15000\nwindow.y=30\n", "font.size=999\nwindow.width=-5\n"}) {
            std::ofstream(SettingsFileBeside(history.toStdString())) << bad;
            Window third(history);
            third->RestoreGeometry();
            QCOMPARE(third->pos(), QPoint(100, 100));
            QCOMPARE(third.View().FontPointSize(), third.View().DefaultFontPointSize());
        }
    }

    // The status bar follows a command line, and while one runs, what it waits
    // for: the reply of an instrument that never sends it, or a WAIT in a command
    // file (running, not waiting for a response). (What it shows is in layout.txt.)
    void theStatusBarInEachState() {
        Window w;
        Session& s = w->TheSession();
        w.Enter("end crlf");
        QString shown;
        for (QLabel* label : w->statusBar()->findChildren<QLabel*>()) shown += label->text();
        QVERIFY2(shown.endsWith(QStringLiteral("end CR LF")), qPrintable(shown));
        HungInstrument instrument;
        instrument.Use(s);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("W.TXT"));
        std::ofstream(file.toStdString()) << "WAIT 100\n";
        for (const std::string& line : {std::string("ENTER ;*IDN?"), "RUN " + file.toStdString()}) {
            QStringList seen;
            w.Host().onPump = [&] {
                w->RefreshStatus();
                seen << w->StateText();
                if (s.TransferWaitActive != 0 || s.WaitInProgress != 0) w.Key(Qt::Key_Escape);
            };
            w.Key(Qt::Key_Escape);
            w.Enter(line.c_str());
            const bool file = line[0] == 'R';
            QCOMPARE(seen.contains(QStringLiteral("Waiting for response\u2026")), !file);
            QVERIFY(seen.contains(QStringLiteral("Running\u2026")) || !file);
            QCOMPARE(w->StateText(), QStringLiteral("Ready"));
        }
        w.Host().onPump = nullptr;
    }

    // Eighty columns and thirty rows; a hundred lines page through them by keys
    // and by the scroll bar, and output does not scroll the view.
    void pagesOfAHundredLinesInThirtyRows() {
        Window w;
        QCOMPARE(w->Store().VisibleColumns(), 80);
        QCOMPARE(w->Store().VisibleRows(), 30);
        QCOMPARE(w.View().viewport()->size(), w.View().CellsSize(80, 30));
        WriteLines(w->TheSession(), 28);
        QCOMPARE(w.View().Scroll().verticalMax, 0);
        WriteLines(w->TheSession(), 1);
        QCOMPARE(w.View().Scroll().verticalMax, 1);
        WriteLines(w->TheSession(), 71);
        QCOMPARE(w.View().verticalScrollBar()->maximum(), 72);
        QCOMPARE(w.View().Scroll().vertical, 0);
        const std::pair<Qt::Key, int> keys[] = {{Qt::Key_PageDown, 30}, {Qt::Key_PageDown, 60}, {Qt::Key_PageDown, 72},
                                                {Qt::Key_PageDown, 72}, {Qt::Key_PageUp, 41},   {Qt::Key_PageUp, 10},
                                                {Qt::Key_PageUp, 0},    {Qt::Key_PageUp, 0}};
        for (const auto& [key, expected] : keys) {
            w.Key(key);
            QCOMPARE(QList<int>({w.View().Scroll().vertical, w.View().verticalScrollBar()->value()}), QList<int>({expected, expected}));
        }
        QScrollBar* bar = w.View().verticalScrollBar();
        const std::pair<QAbstractSlider::SliderAction, int> steps[] = {
            {QAbstractSlider::SliderPageStepAdd, 30}, {QAbstractSlider::SliderPageStepSub, 0},
            {QAbstractSlider::SliderToMaximum, 72}, {QAbstractSlider::SliderSingleStepSub, 71},
            {QAbstractSlider::SliderToMinimum, 0}};
        for (const auto& [action, expected] : steps) {
            bar->triggerAction(action);
            QCOMPARE(w.View().Scroll().vertical, expected);
        }
        // A step of nothing repaints nothing; a step is a 16-bit number.
        const int before = w.View().ScrollRepaints();
        w.View().ScrollVertical(kScrollLineUp);
        w.View().ScrollVertical(kScrollThumbTrack, 0);
        QCOMPARE(w.View().ScrollRepaints(), before);
        w.View().ScrollVertical(kScrollLineDown);
        QCOMPARE(w.View().ScrollRepaints(), before + 1);
        w.View().ScrollVertical(kScrollThumbTrack, 65536 + 5);
        QCOMPARE(w.View().Scroll().vertical, 5);
        // A cleared display starts at the top.
        ClearDisplay(w->TheSession());
        QCOMPARE(w.View().Scroll().vertical, 0);
        QCOMPARE(w.View().Scroll().verticalMax, 0);
    }

    void horizontalStepsAndRange() {
        Window w;
        PrintText(w->TheSession(), kAttrValue, std::string(79, 'a'));  // wraps at 79
        PrintNewLine(w->TheSession());
        QCOMPARE(w.View().Scroll().horizontalMax, 1);
        QCOMPARE(w.View().horizontalScrollBar()->maximum(), 1);
        w.View().ScrollHorizontal(kScrollPageDown);
        QCOMPARE(w.View().Scroll().horizontal, 1);
        w.View().ScrollHorizontal(kScrollTop);  // no leftmost request
        QCOMPARE(w.View().Scroll().horizontal, 1);
        w.View().ScrollHorizontal(kScrollPageUp);
        QCOMPARE(w.View().Scroll().horizontal, 0);
    }

    void resizingKeepsTheLinesAndClampsThePosition() {
        Window w;
        WriteLines(w->TheSession(), 100);
        for (int i = 0; i < 3; ++i) w.Key(Qt::Key_PageDown);
        QCOMPARE(w.View().Scroll().vertical, 72);
        w->resize(w->size() + QSize(0, 20 * w.View().CellHeight()));
        QTRY_COMPARE(w->Store().VisibleRows(), 50);
        QCOMPARE(w->Store().CurrentLine(), 100);
        QCOMPARE(w.View().Scroll().vertical, 52);
        w.Key(Qt::Key_PageDown);
        QCOMPARE(w.View().Scroll().vertical, 52);
        // Smaller than a cell: one column and one row.
        w->resize(20, 20);
        w.View().resize(2, 2);
        QTRY_COMPARE(w->Store().VisibleColumns(), 1);
        QCOMPARE(w->Store().VisibleRows(), 1);
    }
};

QTEST_MAIN(ConsoleWindowTest)
#include "clipboard_view_test.moc"
