// The console on the screen: the edit line in row 0, the display text below it
// with two scroll bars, and the keys of the command-line editor.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QKeyEvent>
#include <QPainter>

#include <QClipboard>
#include <QElapsedTimer>

#include <array>
#include <string_view>

#include "console/edit_line.h"
#include "console/scroll.h"

class QMenu;

namespace kelvo {
class Console;
class ConsoleContext;
}  // namespace kelvo

namespace kelvo::app {

// Ctrl+Break: Ctrl with the Pause/Break key.
bool IsCtrlBreak(const QKeyEvent& event);

// A display byte as the window draws it (and as it is copied): control bytes as
// their pictures (U+2400 onward), the others as Latin-1.
QChar DisplayChar(char c);

// A place between two character cells: line -1 is the edit row, 0 onward the
// display lines; column counts cells from the row's start.
struct TextPlace {
    int line = 0;
    int column = 0;
    friend bool operator==(const TextPlace&, const TextPlace&) = default;
    friend auto operator<=>(const TextPlace&, const TextPlace&) = default;
};

class ConsoleView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ConsoleView(QWidget* parent = nullptr);
    // The session whose store the view draws and whose flags it reads; the view
    // shows nothing until it has one.
    void Attach(ConsoleContext& session);

    EditLine& Edit() { return edit_; }
    const EditLine& Edit() const { return edit_; }
    const ScrollState& Scroll() const { return scroll_; }
    int CellWidth() const { return cellWidth_; }
    int CellHeight() const { return cellHeight_; }

    // The edit line shows `text` behind the prompt, caret at its end.
    void SetEditLine(std::string_view text);
    // Draws the edit line again and puts the caret at its end.
    void RedrawPrompt();

    // Requests of the text store, as they happen.
    void DrawPiece(int line, int x, std::string_view text, int attribute);
    void BlankLineSpan(int line, int column, int count);
    void ClearToLineEnd(int line, int column);
    void ClearOutputArea();
    void UpdateScrollRanges();

    // Scroll requests (numbered as ScrollRequest); a step of 0 repaints nothing.
    void ScrollVertical(int request, int thumb = 0);
    void ScrollHorizontal(int request, int thumb = 0);

    // How often the output area was invalidated by scrolling (for the tests).
    int ScrollRepaints() const { return scrollRepaints_; }
    // The viewport size that holds `columns` x `rows` cells.
    QSize CellsSize(int columns, int rows) const;

    // Selection, copy and paste.
    bool HasSelection() const { return selectionStart_ != selectionEnd_; }
    TextPlace SelectionStart() const { return selectionStart_; }
    TextPlace SelectionEnd() const { return selectionEnd_; }
    void Select(TextPlace anchor, TextPlace end);
    void ClearSelection();
    QString SelectedText() const;
    QString AllText() const;  // the completed display lines
    void CopySelection();     // to the clipboard
    void CopyAll();
    // Types `text` into the edit line; each line break is Enter. Stops, with a
    // beep and the reason, at the first line that cannot be typed. Returns
    // whether everything was taken.
    bool Paste(const QString& text);
    void PasteFrom(QClipboard::Mode mode);
    QMenu* MakeContextMenu(QWidget* parent);
    // The cell under a viewport point.
    TextPlace PlaceAt(QPoint point) const;
    // The first edit-row column shown (the row scrolls to keep the caret in view).
    int EditScroll() const { return editScroll_; }

    // Text size in points; the grid follows, as after a resize.
    int FontPointSize() const { return fontPoints_; }
    int DefaultFontPointSize() const { return defaultPoints_; }
    void SetFontPointSize(int points);
    void ZoomIn() { SetFontPointSize(fontPoints_ + 1); }
    void ZoomOut() { SetFontPointSize(fontPoints_ - 1); }
    void ZoomReset() { SetFontPointSize(defaultPoints_); }
    static constexpr int kMinPoints = 6;
    static constexpr int kMaxPoints = 48;

signals:
    void lineComplete();             // Enter
    void recallRequested(int direction);  // 53 older, 54 newer
    void ctrlBreak();                // Ctrl+Break at the prompt
    void refused(const QString& reason);  // a key or paste that was not taken
    void completionsListed(const QString& candidates);  // Tab with several candidates
    void zoomChanged(int points);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The warning beep of a key or paste the view refuses.
    void Refuse();
    void ApplyLayout();
    void OnVerticalAction(int action);
    void OnHorizontalAction(int action);
    void SyncScrollBars();
    QRect OutputRect() const;
    QRect RowRect(int line) const;
    void UpdateEditRow();
    void ResetShadow(int line);
    void DrawCells(QPainter& painter, int x, int baseline, std::string_view text) const;
    void MeasureFont();
    void KeepCaretInView();
    void Refuse(const QString& reason);
    void CompleteAtCaret();  // Tab
    std::string_view RowText(int line) const;
    TextPlace Clamped(TextPlace place, int line) const;
    void SelectWordOrLine(TextPlace place, bool wholeLine);
    void ShareSelection();  // the X primary selection
    void FillSelection(QPainter& painter, int line, int y, int shift) const;

    ConsoleContext* session_ = nullptr;
    Console* console_ = nullptr;
    QFont font_;
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    int ascent_ = 12;
    int fontPoints_ = 10;
    int defaultPoints_ = 10;
    int editScroll_ = 0;
    EditLine edit_;
    TextPlace selectionStart_;  // where the drag began
    TextPlace selectionEnd_;    // where it is now
    bool dragging_ = false;
    QElapsedTimer sinceDoubleClick_;
    QPoint doubleClickPoint_;
    ScrollState scroll_;
    int scrollRepaints_ = 0;

    // What the direct drawing has put on the row of the line being written: that
    // line is never painted from the store, only as its pieces arrive.
    int shadowLine_ = -1;
    std::array<char, 200> shadowText_{};
    std::array<unsigned char, 200> shadowAttr_{};
};

}  // namespace kelvo::app
