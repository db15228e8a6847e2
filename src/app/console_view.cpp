#include "app/console_view.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "console/console.h"

namespace kelvo::app {
namespace {

QColor PaletteColor(int attribute) {
    const Rgb& c = ConsolePalette[attribute >= 0 && attribute < kPaletteSize ? attribute : kAttrValue];
    return QColor(c.r, c.g, c.b);
}

}  // namespace

ConsoleView::ConsoleView(QWidget* parent) : QAbstractScrollArea(parent) {
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font_.setStyleHint(QFont::TypeWriter);
    font_.setFixedPitch(true);
    const QFontMetrics metrics(font_);
    cellWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    cellHeight_ = std::max(1, metrics.height());
    ascent_ = metrics.ascent();

    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    viewport()->setPalette(palette);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::ArrowCursor);

    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &ConsoleView::OnVerticalAction);
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, &ConsoleView::OnHorizontalAction);
    ResetShadow(-1);
    ApplyLayout();
}

QSize ConsoleView::CellsSize(int columns, int rows) const { return {columns * cellWidth_, rows * cellHeight_}; }

void ConsoleView::ApplyLayout() {
    const QSize size = viewport()->size();
    TheConsole().SetLayout(cellWidth_, cellHeight_, size.width(), size.height());
}

QRect ConsoleView::OutputRect() const {
    const QRect all = viewport()->rect();
    return QRect(0, cellHeight_, all.width(), std::max(0, all.height() - cellHeight_));
}

QRect ConsoleView::RowRect(int line) const {
    return QRect(0, (line - scroll_.vertical + 1) * cellHeight_, viewport()->width(), cellHeight_);
}

void ConsoleView::UpdateEditRow() { viewport()->update(0, 0, viewport()->width(), cellHeight_); }

void ConsoleView::SetEditLine(std::string_view text) {
    edit_.Set(text);
    UpdateEditRow();
}

void ConsoleView::RedrawPrompt() {
    edit_.End();
    UpdateEditRow();
}

void ConsoleView::ResetShadow(int line) {
    shadowLine_ = line;
    shadowText_.fill(' ');
    shadowAttr_.fill(kAttrValue);
}

void ConsoleView::DrawPiece(int line, int x, std::string_view text, int attribute) {
    if (line != shadowLine_) ResetShadow(line);
    int column = x / cellWidth_;
    for (const char c : text) {
        if (column >= 0 && column < static_cast<int>(shadowText_.size())) {
            shadowText_[static_cast<std::size_t>(column)] = c;
            shadowAttr_[static_cast<std::size_t>(column)] = static_cast<unsigned char>(attribute);
        }
        ++column;
    }
    viewport()->update(RowRect(line).intersected(OutputRect()));
}

void ConsoleView::BlankLineSpan(int line, int column, int count) {
    if (line != shadowLine_) ResetShadow(line);
    for (int c = std::max(0, column); c < column + count && c < static_cast<int>(shadowText_.size()); ++c)
        shadowText_[static_cast<std::size_t>(c)] = ' ';
    viewport()->update(RowRect(line).intersected(OutputRect()));
}

void ConsoleView::ClearToLineEnd(int line, int column) {
    BlankLineSpan(line, column, static_cast<int>(shadowText_.size()) - column);
}

void ConsoleView::ClearOutputArea() {
    ResetShadow(-1);
    viewport()->update(OutputRect());
}

void ConsoleView::UpdateScrollRanges() {
    const Console& console = TheConsole();
    scroll_.UpdateRanges(console.CurrentLine(), console.VisibleRows(), console.LongestLine(),
                         console.VisibleColumns());
    SyncScrollBars();
}

void ConsoleView::SyncScrollBars() {
    verticalScrollBar()->setRange(0, scroll_.verticalMax);
    verticalScrollBar()->setPageStep(std::max(1, TheConsole().VisibleRows()));
    verticalScrollBar()->setValue(scroll_.vertical);
    horizontalScrollBar()->setRange(0, scroll_.horizontalMax);
    horizontalScrollBar()->setPageStep(8);
    horizontalScrollBar()->setValue(scroll_.horizontal);
}

void ConsoleView::ScrollVertical(int request, int thumb) {
    const int step = scroll_.ScrollVertical(request, thumb, TheConsole().VisibleRows());
    if (step != 0) {
        ++scrollRepaints_;
        viewport()->update(OutputRect());
    }
    SyncScrollBars();
}

void ConsoleView::ScrollHorizontal(int request, int thumb) {
    const int step = scroll_.ScrollHorizontal(request, thumb);
    if (step != 0) {
        ++scrollRepaints_;
        viewport()->update(OutputRect());
    }
    SyncScrollBars();
}

namespace {

int RequestOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return kScrollLineUp;
    case QAbstractSlider::SliderSingleStepAdd: return kScrollLineDown;
    case QAbstractSlider::SliderPageStepSub: return kScrollPageUp;
    case QAbstractSlider::SliderPageStepAdd: return kScrollPageDown;
    case QAbstractSlider::SliderMove: return kScrollThumbTrack;
    case QAbstractSlider::SliderToMinimum: return kScrollTop;
    case QAbstractSlider::SliderToMaximum: return kScrollBottom;
    default: return -1;
    }
}

}  // namespace

// The scroll bar has already moved its slider by its own idea of a step; the
// console's steps replace it before the value is taken over.
void ConsoleView::OnVerticalAction(int action) {
    QScrollBar* bar = verticalScrollBar();
    ScrollVertical(RequestOf(action), bar->sliderPosition());
    bar->setSliderPosition(scroll_.vertical);
}

void ConsoleView::OnHorizontalAction(int action) {
    QScrollBar* bar = horizontalScrollBar();
    const int request = RequestOf(action);
    ScrollHorizontal(request == kScrollTop || request == kScrollBottom ? -1 : request, bar->sliderPosition());
    bar->setSliderPosition(scroll_.horizontal);
}

void ConsoleView::scrollContentsBy(int, int) {
    // Positions are the console's own; the bars only follow them.
}

bool ConsoleView::focusNextPrevChild(bool) { return false; }  // Tab stays in the console

// Each character in its own cell, so that the grid holds whatever the font's
// fractional advance.
void ConsoleView::DrawCells(QPainter& painter, int x, int baseline, std::string_view text) const {
    for (const char c : text) {
        if (c != ' ') painter.drawText(x, baseline, QString(QChar::fromLatin1(c)));
        x += cellWidth_;
    }
}

void ConsoleView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font_);
    painter.fillRect(event->rect(), Qt::white);
    const Console& console = TheConsole();

    if (console.HasStore()) {
        painter.save();
        painter.setClipRect(OutputRect().intersected(event->rect()));
        const int shift = scroll_.horizontal * cellWidth_;
        const int last = std::min(console.CurrentLine(), console.VisibleRows() + scroll_.vertical + 1);
        for (int line = scroll_.vertical; line < last; ++line) {
            const DisplayLine& record = console.Line(line);
            const int y = (line - scroll_.vertical + 1) * cellHeight_ + ascent_;
            for (int r = 0; r < record.runCount && r < kMaxRuns; ++r) {
                const TextRun& run = record.runs[r];
                if (run.length == 0) continue;
                painter.setPen(PaletteColor(run.attribute));
                DrawCells(painter, run.x - shift, y, std::string_view(record.text + run.start, run.length));
            }
        }
        // The line being written, as drawn so far.
        const int current = console.CurrentLine();
        if (shadowLine_ == current && current >= scroll_.vertical &&
            current <= scroll_.vertical + console.VisibleRows()) {
            const int y = (current - scroll_.vertical + 1) * cellHeight_ + ascent_;
            for (int c = 0; c < static_cast<int>(shadowText_.size()); ++c) {
                const char ch = shadowText_[static_cast<std::size_t>(c)];
                if (ch == ' ') continue;
                painter.setPen(PaletteColor(shadowAttr_[static_cast<std::size_t>(c)]));
                painter.drawText(c * cellWidth_ - shift, y, QString(QChar::fromLatin1(ch)));
            }
        }
        painter.restore();
    }

    // The edit line, never shifted, and the block caret on it.
    painter.setPen(PaletteColor(kAttrValue));
    DrawCells(painter, 0, ascent_, std::string_view(edit_.Row(), static_cast<std::size_t>(edit_.EditEnd())));
    if (hasFocus()) {
        const int caret = edit_.CaretColumn();
        const QRect cell(caret * cellWidth_, 0, cellWidth_, cellHeight_);
        painter.fillRect(cell, Qt::black);
        painter.setPen(Qt::white);
        painter.drawText(cell.x(), ascent_, QString(QChar::fromLatin1(edit_.Row()[caret])));
    }
}

void ConsoleView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (window()->isMinimized() || !TheConsole().HasStore()) return;
    ApplyLayout();
    edit_.RecomputeEnd(TheConsole().VisibleColumns());
    UpdateScrollRanges();
    viewport()->update();
}

void ConsoleView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    UpdateEditRow();
}

void ConsoleView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    UpdateEditRow();
}

bool IsCtrlBreak(const QKeyEvent& event) {
    constexpr quint32 kBreakKeysym = 0xff6b;  // what X11 makes of Pause with Ctrl
    if ((event.modifiers() & Qt::ControlModifier) == 0) return false;
    return event.key() == Qt::Key_Pause || event.key() == Qt::Key_Cancel ||
           (event.key() == 0 && event.nativeVirtualKey() == kBreakKeysym);
}

void ConsoleView::keyPressEvent(QKeyEvent* event) {
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    if (IsCtrlBreak(*event)) {
        emit ctrlBreak();
        return;
    }
    switch (event->key()) {
    case Qt::Key_PageUp: ScrollVertical(kScrollPageUp); return;
    case Qt::Key_PageDown: ScrollVertical(kScrollPageDown); return;
    case Qt::Key_End: edit_.End(); break;
    case Qt::Key_Home: edit_.Home(); break;
    case Qt::Key_Left: control ? edit_.WordLeft() : edit_.Left(); break;
    case Qt::Key_Right: control ? edit_.WordRight() : edit_.Right(); break;
    case Qt::Key_Up: emit recallRequested(53); return;
    case Qt::Key_Down: emit recallRequested(54); return;
    case Qt::Key_Delete: edit_.Delete(); break;
    case Qt::Key_Backspace: edit_.Backspace(); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: emit lineComplete(); return;
    case Qt::Key_Escape: edit_.Clear(); break;
    default: {
        const QString text = event->text();
        // Ctrl and Alt combinations are shortcuts (Alt+F opens the File menu).
        if (text.size() != 1 || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            event->ignore();
            return;
        }
        const char16_t c = text.at(0).unicode();
        if (c < 32 || c > 126) {
            event->ignore();
            return;
        }
        if (!edit_.Insert(static_cast<char>(c), TheConsole().VisibleColumns())) WarningBeep();
        break;
    }
    }
    UpdateEditRow();
}

}  // namespace kelvo::app
