// The console's geometry on the screen: the grid from the window size, the scroll
// ranges and steps, and output that does not move the view.
#include <QScrollBar>
#include <QTest>

#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

void WriteLines(Session& s, int count) {
    for (int i = 0; i < count; ++i) {
        PrintText(s, kAttrValue, "line ");
        PrintLong(s, kAttrWords, i);
        PrintNewLine(s);
    }
}

}  // namespace

class ScrollTest : public QObject {
    Q_OBJECT
private slots:
    // Eighty columns and thirty rows; a hundred lines page through them by keys
    // and by the scroll bar, and output does not scroll the view.
    void pagesOfAHundredLinesInThirtyRows() {
        Window w;
        QCOMPARE(w->Store().VisibleColumns(), 80);
        QCOMPARE(w->Store().VisibleRows(), 30);
        QCOMPARE(w.View().viewport()->size(), w.View().CellsSize(80, 30));
        QVERIFY(w->windowTitle().startsWith(QStringLiteral("Kelvo ")));
        WriteLines(w->TheSession(), 28);
        QCOMPARE(w.View().Scroll().verticalMax, 0);
        WriteLines(w->TheSession(), 1);
        QCOMPARE(w.View().Scroll().verticalMax, 1);
        WriteLines(w->TheSession(), 71);
        QCOMPARE(w.View().verticalScrollBar()->maximum(), 72);
        QCOMPARE(w.View().Scroll().vertical, 0);
        for (const int expected : {30, 60, 72, 72}) {
            w.Key(Qt::Key_PageDown);
            QCOMPARE(w.View().verticalScrollBar()->value(), expected);
        }
        for (const int expected : {41, 10, 0, 0}) {
            w.Key(Qt::Key_PageUp);
            QCOMPARE(w.View().Scroll().vertical, expected);
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

QTEST_MAIN(ScrollTest)
#include "scroll_test.moc"
