#include "app/console_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

#include "console/console.h"
#include "console/program_state.h"
#include "script/command_language.h"

namespace kelvo::app {
namespace {

QColor PaletteColor(int attribute) {
    const Rgb& c = ConsolePalette[attribute >= 0 && attribute < kPaletteSize ? attribute : kAttrValue];
    return QColor(c.r, c.g, c.b);
}

const QColor kSelectionColor(173, 214, 255);

}  // namespace

QChar DisplayChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32) return QChar(static_cast<char16_t>(0x2400 + byte));
    if (byte == 127) return QChar(static_cast<char16_t>(0x2421));
    return QChar::fromLatin1(c);
}

void ConsoleView::Refuse() {
    if (session_ != nullptr) WarningBeep(*session_);
}

void ConsoleView::Attach(ConsoleContext& session) {
    session_ = &session;
    console_ = &session.console;
    ApplyLayout();
}

ConsoleView::ConsoleView(QWidget* parent) : QAbstractScrollArea(parent) {
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font_.setStyleHint(QFont::TypeWriter);
    font_.setFixedPitch(true);
    defaultPoints_ = fontPoints_ = std::clamp(QFontInfo(font_).pointSize(), kMinPoints, kMaxPoints);
    font_.setPointSize(fontPoints_);
    MeasureFont();

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
    viewport()->setCursor(Qt::IBeamCursor);

    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &ConsoleView::OnVerticalAction);
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, &ConsoleView::OnHorizontalAction);
    ResetShadow(-1);
    ApplyLayout();
}

QSize ConsoleView::CellsSize(int columns, int rows) const { return {columns * cellWidth_, rows * cellHeight_}; }

void ConsoleView::MeasureFont() {
    const QFontMetrics metrics(font_);
    cellWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    cellHeight_ = std::max(1, metrics.height());
    ascent_ = metrics.ascent();
}

void ConsoleView::SetFontPointSize(int points) {
    points = std::clamp(points, kMinPoints, kMaxPoints);
    if (points == fontPoints_) return;
    fontPoints_ = points;
    font_.setPointSize(points);
    MeasureFont();
    ResetShadow(shadowLine_);  // the line being written is redrawn from the store
    ApplyLayout();
    UpdateScrollRanges();
    KeepCaretInView();
    viewport()->update();
    emit zoomChanged(points);
}

void ConsoleView::ApplyLayout() {
    if (console_ == nullptr) return;  // not attached to its store yet
    const QSize size = viewport()->size();
    console_->SetLayout(cellWidth_, cellHeight_, size.width(), size.height());
}

QRect ConsoleView::OutputRect() const {
    const QRect all = viewport()->rect();
    return QRect(0, cellHeight_, all.width(), std::max(0, all.height() - cellHeight_));
}

QRect ConsoleView::RowRect(int line) const {
    return QRect(0, (line - scroll_.vertical + 1) * cellHeight_, viewport()->width(), cellHeight_);
}

void ConsoleView::UpdateEditRow() {
    if (selectionStart_.line < 0) ClearSelection();  // the edit row changed under it
    KeepCaretInView();
    viewport()->update(0, 0, viewport()->width(), cellHeight_);
}

// The edit row scrolls sideways so that the caret stays on the screen.
void ConsoleView::KeepCaretInView() {
    if (console_ == nullptr) return;  // not attached to its store yet
    const int columns = std::max(1, console_->VisibleColumns());
    const int caret = edit_.CaretColumn();
    if (caret - editScroll_ >= columns) editScroll_ = caret - columns + 1;
    if (caret <= editScroll_) editScroll_ = std::max(0, caret - columns / 2);
    editScroll_ = std::clamp(editScroll_, 0, std::max(0, edit_.EditEnd() - columns + 1));
}

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
    if (selectionStart_.line >= 0) ClearSelection();
    ResetShadow(-1);
    viewport()->update(OutputRect());
}

void ConsoleView::UpdateScrollRanges() {
    if (console_ == nullptr) return;  // not attached to its store yet
    const Console& console = *console_;
    scroll_.UpdateRanges(console.CurrentLine(), console.VisibleRows(), console.LongestLine(),
                         console.VisibleColumns());
    SyncScrollBars();
}

void ConsoleView::SyncScrollBars() {
    if (console_ == nullptr) return;  // not attached to its store yet
    verticalScrollBar()->setRange(0, scroll_.verticalMax);
    verticalScrollBar()->setPageStep(std::max(1, console_->VisibleRows()));
    verticalScrollBar()->setValue(scroll_.vertical);
    horizontalScrollBar()->setRange(0, scroll_.horizontalMax);
    horizontalScrollBar()->setPageStep(8);
    horizontalScrollBar()->setValue(scroll_.horizontal);
}

void ConsoleView::ScrollVertical(int request, int thumb) {
    if (console_ == nullptr) return;  // not attached to its store yet
    const int step = scroll_.ScrollVertical(request, thumb, console_->VisibleRows());
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
        if (c != ' ') painter.drawText(x, baseline, QString(DisplayChar(c)));
        x += cellWidth_;
    }
}

void ConsoleView::FillSelection(QPainter& painter, int line, int y, int shift) const {
    if (!HasSelection()) return;
    const TextPlace from = std::min(selectionStart_, selectionEnd_);
    const TextPlace to = std::max(selectionStart_, selectionEnd_);
    if (line < from.line || line > to.line) return;
    const int first = line == from.line ? from.column : 0;
    const int last = line == to.line ? to.column : static_cast<int>(RowText(line).size()) + 1;
    if (last > first) painter.fillRect(first * cellWidth_ - shift, y, (last - first) * cellWidth_, cellHeight_,
                                       kSelectionColor);
}

void ConsoleView::paintEvent(QPaintEvent* event) {
    if (console_ == nullptr) return;  // not attached to its store yet
    QPainter painter(viewport());
    painter.setFont(font_);
    painter.fillRect(event->rect(), Qt::white);
    const Console& console = *console_;

    if (console.HasStore()) {
        painter.save();
        painter.setClipRect(OutputRect().intersected(event->rect()));
        const int shift = scroll_.horizontal * cellWidth_;
        const int last = std::min(console.CurrentLine(), console.VisibleRows() + scroll_.vertical + 1);
        for (int line = scroll_.vertical; line < last; ++line) {
            const DisplayLine& record = console.Line(line);
            const int top = (line - scroll_.vertical + 1) * cellHeight_;
            FillSelection(painter, line, top, shift);
            const int y = top + ascent_;
            for (int r = 0; r < record.runCount && r < kMaxRuns; ++r) {
                const TextRun& run = record.runs[r];
                if (run.length == 0) continue;
                painter.setPen(PaletteColor(run.attribute));
                // Placed by column, so that the runs follow a change of text size.
                DrawCells(painter, run.start * cellWidth_ - shift, y,
                          std::string_view(record.text + run.start, run.length));
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
                painter.drawText(c * cellWidth_ - shift, y, QString(DisplayChar(ch)));
            }
        }
        painter.restore();
    }

    // The edit line, never shifted by the output's scroll bar; a line longer than
    // the window scrolls on its own to keep the caret in view.
    const int editShift = editScroll_ * cellWidth_;
    FillSelection(painter, -1, 0, editShift);
    painter.setPen(PaletteColor(kAttrValue));
    DrawCells(painter, -editShift, ascent_, std::string_view(edit_.Row(), static_cast<std::size_t>(edit_.EditEnd())));
    if (hasFocus()) {
        const int caret = edit_.CaretColumn();
        const QRect cell(caret * cellWidth_ - editShift, 0, cellWidth_, cellHeight_);
        painter.fillRect(cell, Qt::black);
        painter.setPen(Qt::white);
        painter.drawText(cell.x(), ascent_, QString(DisplayChar(edit_.Row()[caret])));
    }
}

void ConsoleView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (window()->isMinimized() || console_ == nullptr || !console_->HasStore()) return;
    ApplyLayout();
    edit_.RecomputeEnd();
    KeepCaretInView();
    UpdateScrollRanges();
    viewport()->update();
}

// The caret shows only with the focus; a selection outlives it (a context menu
// takes the focus while it is open).
void ConsoleView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update(0, 0, viewport()->width(), cellHeight_);
}

void ConsoleView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update(0, 0, viewport()->width(), cellHeight_);
}

bool IsCtrlBreak(const QKeyEvent& event) {
    constexpr quint32 kBreakKeysym = 0xff6b;  // what X11 makes of Pause with Ctrl
    if ((event.modifiers() & Qt::ControlModifier) == 0) return false;
    return event.key() == Qt::Key_Pause || event.key() == Qt::Key_Cancel ||
           (event.key() == 0 && event.nativeVirtualKey() == kBreakKeysym);
}

void ConsoleView::keyPressEvent(QKeyEvent* event) {
    const bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    if (IsCtrlBreak(*event)) {
        emit ctrlBreak();
        return;
    }
    // The desktop's clipboard and zoom keys. Ctrl+C copies only when there is a
    // selection; without one it is no key of the editor.
    const int key = event->key();
    if (control && ((key == Qt::Key_C && (shift || HasSelection())) || key == Qt::Key_Insert)) {
        CopySelection();
        return;
    }
    if ((control && shift && key == Qt::Key_V) || (shift && !control && key == Qt::Key_Insert)) {
        PasteFrom(QClipboard::Clipboard);
        return;
    }
    if (control && (key == Qt::Key_Plus || key == Qt::Key_Equal)) {
        ZoomIn();
        return;
    }
    if (control && (key == Qt::Key_Minus || key == Qt::Key_Underscore)) {
        ZoomOut();
        return;
    }
    if (control && key == Qt::Key_0) {
        ZoomReset();
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
    case Qt::Key_Tab:
        if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
            event->ignore();
            return;
        }
        CompleteAtCaret();
        break;
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
        if (!edit_.Insert(static_cast<char>(c))) {
            Refuse();
            Refuse(QStringLiteral("The command line is full: %1 characters at most").arg(kEditLineShown));
        }
        break;
    }
    }
    UpdateEditRow();
}

void ConsoleView::Refuse(const QString& reason) { emit refused(reason); }

// The word before the caret completed from the command language or the folder;
// several candidates are named in the status bar.
void ConsoleView::CompleteAtCaret() {
    const std::string line(edit_.Row() + 1, static_cast<std::size_t>(edit_.EditEnd() - 1));
    const auto cursor = static_cast<std::size_t>(edit_.CaretColumn() - 1);
    const Completion completion = CompleteWord(line, cursor);
    if (completion.candidates.empty()) {
        Refuse();
        return;
    }
    const std::string typed = line.substr(completion.wordStart, cursor - completion.wordStart);
    if (!edit_.ReplaceBeforeCaret(static_cast<int>(completion.wordStart), CompletedText(completion, typed))) {
        Refuse();
        Refuse(QStringLiteral("The command line is full: %1 characters at most").arg(kEditLineShown));
        return;
    }
    if (completion.candidates.size() > 1) {
        QStringList names;
        for (const std::string& candidate : completion.candidates) names << QString::fromStdString(candidate);
        emit completionsListed(names.join(QStringLiteral("  ")));
    }
}

// ---- Selection, copy and paste ----

std::string_view ConsoleView::RowText(int line) const {
    if (line < 0) return std::string_view(edit_.Row(), static_cast<std::size_t>(edit_.EditEnd()));
    if (console_ == nullptr) return {};
    const Console& console = *console_;
    if (!console.HasStore() || line >= console.CurrentLine()) return {};
    const DisplayLine& record = console.Line(line);
    return std::string_view(record.text, std::min<std::size_t>(record.length, kLineTextSize - 1));
}

TextPlace ConsoleView::PlaceAt(QPoint point) const {
    const int row = std::max(0, point.y()) / cellHeight_;
    // Between cells: a click on a cell's right half means the place after it.
    const int cell = (std::max(0, point.x()) + cellWidth_ / 2) / cellWidth_;
    if (row == 0) return {-1, cell + editScroll_};
    return {row - 1 + scroll_.vertical, cell + scroll_.horizontal};
}

// A place kept on the row where the drag began (the edit row or the display).
TextPlace ConsoleView::Clamped(TextPlace place, int line) const {
    if (line < 0) return {-1, std::clamp(place.column, 1, edit_.EditEnd())};
    const int lines = console_ != nullptr && console_->HasStore() ? console_->CurrentLine() : 0;
    if (lines == 0) return {0, 0};
    if (place.line < 0) place = {std::max(0, scroll_.vertical - 1), 0};
    if (place.line >= lines) return {std::max(0, lines - 1), static_cast<int>(RowText(lines - 1).size())};
    return {place.line, std::clamp(place.column, 0, static_cast<int>(RowText(place.line).size()))};
}

void ConsoleView::Select(TextPlace anchor, TextPlace end) {
    selectionStart_ = Clamped(anchor, anchor.line);
    selectionEnd_ = Clamped(end, selectionStart_.line);
    viewport()->update();
}

void ConsoleView::ClearSelection() {
    if (!HasSelection() && !dragging_) return;
    selectionStart_ = selectionEnd_ = TextPlace{};
    dragging_ = false;
    viewport()->update();
}

QString ConsoleView::SelectedText() const {
    if (!HasSelection()) return {};
    const TextPlace from = std::min(selectionStart_, selectionEnd_);
    const TextPlace to = std::max(selectionStart_, selectionEnd_);
    QString text;
    for (int line = from.line; line <= to.line; ++line) {
        const std::string_view row = RowText(line);
        const int first = line == from.line ? from.column : 0;
        const int last = line == to.line ? to.column : static_cast<int>(row.size());
        for (int c = first; c < last && c < static_cast<int>(row.size()); ++c)
            text += DisplayChar(row[static_cast<std::size_t>(c)]);
        if (line != to.line) text += QLatin1Char('\n');
    }
    return text;
}

QString ConsoleView::AllText() const {
    QString text;
    const int lines = console_ != nullptr && console_->HasStore() ? console_->CurrentLine() : 0;
    for (int line = 0; line < lines; ++line) {
        for (const char c : RowText(line)) text += DisplayChar(c);
        text += QLatin1Char('\n');
    }
    return text;
}

void ConsoleView::CopySelection() {
    if (HasSelection()) QApplication::clipboard()->setText(SelectedText(), QClipboard::Clipboard);
}

void ConsoleView::CopyAll() { QApplication::clipboard()->setText(AllText(), QClipboard::Clipboard); }

void ConsoleView::ShareSelection() {
    QClipboard* clipboard = QApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection()) clipboard->setText(SelectedText(), QClipboard::Selection);
}

bool ConsoleView::Paste(const QString& text) {
    QString all = text;
    all.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    all.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = all.split(QLatin1Char('\n'));
    if (lines.size() > 1 && session_ != nullptr && session_->CommandBusy) {
        Refuse();
        Refuse(QStringLiteral("Paste refused: a command line is running"));
        return false;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // Blank lines are left out: Enter on them would repeat the line shown.
        if (lines[i].trimmed().isEmpty()) continue;
        // Checked before anything is typed, so that a refused line is left out whole.
        QByteArray line;
        for (const QChar ch : lines[i]) {
            const char16_t c = ch == QLatin1Char('\t') ? u' ' : ch.unicode();
            if (c < 32 || c > 126) {
                Refuse();
                Refuse(QStringLiteral("Paste stopped: line %1 holds a character that cannot be typed (U+%2)")
                           .arg(i + 1)
                           .arg(static_cast<unsigned>(c), 4, 16, QLatin1Char('0')));
                return false;
            }
            line += static_cast<char>(c);
        }
        // After the first, each line replaces the one shown (which ran).
        const int base = i == 0 ? edit_.EditEnd() - 1 : 0;
        if (base + line.size() > kEditLineShown) {
            Refuse();
            Refuse(QStringLiteral("Paste stopped: line %1 would make the command line longer than %2 characters")
                       .arg(i + 1)
                       .arg(kEditLineShown));
            return false;
        }
        if (i > 0) edit_.Clear();
        for (const char c : line) edit_.Insert(c);
        UpdateEditRow();
        if (i + 1 < lines.size()) {
            // Each line break is Enter: the line runs, and is kept in the history.
            emit lineComplete();
            if (!window()->isVisible()) return false;  // the line ended the program
        }
    }
    return true;
}

void ConsoleView::PasteFrom(QClipboard::Mode mode) {
    const QClipboard* clipboard = QApplication::clipboard();
    if (mode == QClipboard::Selection && !clipboard->supportsSelection()) return;
    Paste(clipboard->text(mode));
}

void ConsoleView::SelectWordOrLine(TextPlace place, bool wholeLine) {
    const std::string_view row = RowText(place.line);
    const int size = static_cast<int>(row.size());
    if (wholeLine) {
        Select({place.line, place.line < 0 ? 1 : 0}, {place.line, size});
        return;
    }
    // The cell clicked: the place before the click's half cell.
    int at = std::clamp(place.column, 0, std::max(0, size - 1));
    auto blank = [&](int c) { return row[static_cast<std::size_t>(c)] == ' '; };
    if (size == 0 || blank(at)) {
        if (at > 0 && at - 1 < size && !blank(at - 1)) --at;
        else return;
    }
    int first = at;
    int last = at + 1;
    while (first > (place.line < 0 ? 1 : 0) && !blank(first - 1)) --first;
    while (last < size && !blank(last)) ++last;
    Select({place.line, first}, {place.line, last});
}

void ConsoleView::mousePressEvent(QMouseEvent* event) {
    const TextPlace place = PlaceAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        // A third click soon after a double click, in the same place: the line.
        if (sinceDoubleClick_.isValid() && sinceDoubleClick_.elapsed() < QApplication::doubleClickInterval() &&
            (event->position().toPoint() - doubleClickPoint_).manhattanLength() <= QApplication::startDragDistance()) {
            sinceDoubleClick_.invalidate();
            SelectWordOrLine(place, true);
            ShareSelection();
            return;
        }
        selectionStart_ = selectionEnd_ = Clamped(place, place.line);
        dragging_ = true;
        viewport()->update();
        return;
    }
    if (event->button() == Qt::MiddleButton) {
        PasteFrom(QClipboard::Selection);
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void ConsoleView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    selectionEnd_ = Clamped(PlaceAt(event->position().toPoint()), selectionStart_.line);
    viewport()->update();
}

void ConsoleView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    selectionEnd_ = Clamped(PlaceAt(event->position().toPoint()), selectionStart_.line);
    dragging_ = false;
    ShareSelection();
    viewport()->update();
}

void ConsoleView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint point = event->position().toPoint();
    // The word under the cell clicked, not the place between cells.
    TextPlace cell = PlaceAt(point - QPoint(cellWidth_ / 2, 0));
    dragging_ = false;
    SelectWordOrLine(cell, false);
    ShareSelection();
    sinceDoubleClick_.start();
    doubleClickPoint_ = point;
}

QMenu* ConsoleView::MakeContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* copy = menu->addAction(QStringLiteral("&Copy"), this, &ConsoleView::CopySelection);
    copy->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    copy->setEnabled(HasSelection());
    menu->addAction(QStringLiteral("Copy &All"), this, &ConsoleView::CopyAll);
    QAction* paste = menu->addAction(QStringLiteral("&Paste"), this, [this] { PasteFrom(QClipboard::Clipboard); });
    paste->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
    menu->addSeparator();
    menu->addAction(QStringLiteral("Zoom &In"), QKeySequence(QStringLiteral("Ctrl++")), this, &ConsoleView::ZoomIn);
    menu->addAction(QStringLiteral("Zoom &Out"), QKeySequence(QStringLiteral("Ctrl+-")), this, &ConsoleView::ZoomOut);
    menu->addAction(QStringLiteral("&Normal Size"), QKeySequence(QStringLiteral("Ctrl+0")), this,
                    &ConsoleView::ZoomReset);
    return menu;
}

void ConsoleView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = MakeContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void ConsoleView::wheelEvent(QWheelEvent* event) {
    if ((event->modifiers() & Qt::ControlModifier) != 0) {
        const int steps = event->angleDelta().y();
        if (steps > 0) ZoomIn();
        else if (steps < 0) ZoomOut();
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

}  // namespace kelvo::app
