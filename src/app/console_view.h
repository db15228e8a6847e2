// The console on the screen: the edit line in row 0, the display text below it
// with two scroll bars, and the keys of the command-line editor.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QKeyEvent>
#include <QPainter>

#include <array>
#include <string_view>

#include "console/edit_line.h"
#include "console/scroll.h"

namespace kelvo::app {

// Ctrl+Break: Ctrl with the Pause/Break key.
bool IsCtrlBreak(const QKeyEvent& event);

class ConsoleView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ConsoleView(QWidget* parent = nullptr);

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

signals:
    void lineComplete();             // Enter
    void recallRequested(int direction);  // 53 older, 54 newer
    void ctrlBreak();                // Ctrl+Break at the prompt

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    void ApplyLayout();
    void OnVerticalAction(int action);
    void OnHorizontalAction(int action);
    void SyncScrollBars();
    QRect OutputRect() const;
    QRect RowRect(int line) const;
    void UpdateEditRow();
    void ResetShadow(int line);
    void DrawCells(QPainter& painter, int x, int baseline, std::string_view text) const;

    QFont font_;
    int cellWidth_ = 8;
    int cellHeight_ = 16;
    int ascent_ = 12;
    EditLine edit_;
    ScrollState scroll_;
    int scrollRepaints_ = 0;

    // What the direct drawing has put on the row of the line being written: that
    // line is never painted from the store, only as its pieces arrive.
    int shadowLine_ = -1;
    std::array<char, 200> shadowText_{};
    std::array<unsigned char, 200> shadowAttr_{};
};

}  // namespace kelvo::app
