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
    void theWindowOpensWithEightyColumnsAndThirtyRows() {
        Window w;
        QCOMPARE(w->Store().VisibleColumns(), 80);
        QCOMPARE(w->Store().VisibleRows(), 30);
        QCOMPARE(w.View().viewport()->size(), w.View().CellsSize(80, 30));
        QVERIFY(w->windowTitle().startsWith(QStringLiteral("Kelvo ")));
    }

    void pagesOfAHundredLinesInThirtyRows() {
        Window w;
        WriteLines(w->TheSession(), 28);
        QCOMPARE(w.View().Scroll().verticalMax, 0);
        WriteLines(w->TheSession(), 1);  // CurrentLine 29
        QCOMPARE(w.View().Scroll().verticalMax, 1);
        WriteLines(w->TheSession(), 71);
        QCOMPARE(w->Store().CurrentLine(), 100);
        QCOMPARE(w.View().Scroll().verticalMax, 72);
        QCOMPARE(w.View().verticalScrollBar()->maximum(), 72);
        QCOMPARE(w.View().Scroll().vertical, 0);  // output does not scroll the view

        for (const int expected : {30, 60, 72, 72}) {
            w.Key(Qt::Key_PageDown);
            QCOMPARE(w.View().Scroll().vertical, expected);
            QCOMPARE(w.View().verticalScrollBar()->value(), expected);
        }
        for (const int expected : {41, 10, 0, 0}) {
            w.Key(Qt::Key_PageUp);
            QCOMPARE(w.View().Scroll().vertical, expected);
        }
    }

    void theScrollBarTakesTheConsolesSteps() {
        Window w;
        WriteLines(w->TheSession(), 100);
        QScrollBar* bar = w.View().verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(w.View().Scroll().vertical, 30);
        QCOMPARE(bar->value(), 30);
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(w.View().Scroll().vertical, 0);
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(w.View().Scroll().vertical, 72);
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(w.View().Scroll().vertical, 71);
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(w.View().Scroll().vertical, 0);
    }

    void aStepOfNothingRepaintsNothing() {
        Window w;
        WriteLines(w->TheSession(), 100);
        const int before = w.View().ScrollRepaints();
        w.View().ScrollVertical(kScrollLineUp);
        w.View().ScrollVertical(kScrollThumbTrack, 0);
        w.View().ScrollVertical(kScrollThumbPosition, 50);
        QCOMPARE(w.View().ScrollRepaints(), before);
        w.View().ScrollVertical(kScrollLineDown);
        QCOMPARE(w.View().ScrollRepaints(), before + 1);
        QCOMPARE(w.View().Scroll().vertical, 1);
        // A step is a 16-bit number, kept inside the range.
        w.View().ScrollVertical(kScrollThumbTrack, 65536 + 5);
        QCOMPARE(w.View().Scroll().vertical, 5);
    }

    void horizontalStepsAndRange() {
        Window w;
        PrintText(w->TheSession(), kAttrValue, std::string(79, 'a'));  // wraps at 79
        PrintNewLine(w->TheSession());
        QCOMPARE(w->Store().LongestLine(), std::int16_t{79});
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
        w.Key(Qt::Key_PageDown);
        w.Key(Qt::Key_PageDown);
        w.Key(Qt::Key_PageDown);
        QCOMPARE(w.View().Scroll().vertical, 72);
        const QSize grow(0, 20 * w.View().CellHeight());
        w->resize(w->size() + grow);
        QTRY_COMPARE(w->Store().VisibleRows(), 50);
        QCOMPARE(w->Store().CurrentLine(), 100);
        QCOMPARE(w.View().Scroll().verticalMax, 52);
        QCOMPARE(w.View().Scroll().vertical, 52);
        w.Key(Qt::Key_PageDown);
        QCOMPARE(w.View().Scroll().vertical, 52);
    }

    void aWindowSmallerThanACellHasOneColumnAndOneRow() {
        Window w;
        w->resize(20, 20);
        w.View().resize(2, 2);
        QTRY_COMPARE(w->Store().VisibleColumns(), 1);
        QCOMPARE(w->Store().VisibleRows(), 1);
    }

    void aClearedDisplayStartsAtTheTop() {
        Window w;
        WriteLines(w->TheSession(), 100);
        w.Key(Qt::Key_PageDown);
        ClearDisplay(w->TheSession());
        QCOMPARE(w.View().Scroll().vertical, 0);
        QCOMPARE(w.View().Scroll().verticalMax, 0);
    }
};

QTEST_MAIN(ScrollTest)
#include "scroll_test.moc"
