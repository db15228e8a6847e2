// The edit line: the top row of the console, a ">" prompt followed by the command
// line being typed, with its caret and the keys that edit it.
#pragma once

#include <cstddef>
#include <string_view>

namespace kelvo {

// The typed line holds up to 254 characters, as many as a command line can have;
// the window scrolls the row sideways to keep the caret in view.
inline constexpr int kEditLineSize = 255;       // columns, the prompt included
inline constexpr int kEditLineShown = 254;      // characters SetEditLine shows

class EditLine {
public:
    EditLine();

    // The whole row: ">" in column 0, the typed characters, blanks behind them.
    const char* Row() const { return row_; }
    int CaretColumn() const { return caret_; }
    int EditEnd() const { return end_; }
    bool LineEdited() const { return edited_; }
    void ClearLineEdited() { edited_ = false; }

    // A printable character (32 to 126) typed at the caret. Returns false when the
    // line is full (254 characters); the caller beeps.
    bool Insert(char c);
    void Delete();     // the character under the caret
    void Backspace();  // the character before the caret
    void Clear();      // ESC: an empty line, caret at column 1
    void Home() { caret_ = 1; }
    void End() { caret_ = end_; }
    void Left();
    void Right();
    void WordLeft();
    void WordRight();

    // Copies the typed characters into `destination` (filled with NULs first), at
    // most size - 1 of them. Returns the number copied.
    std::size_t Take(char* destination, std::size_t size) const;
    // The row becomes ">" and at most 254 characters of `text`; caret and end
    // behind the text.
    void Set(std::string_view text);
    // After a resize: the end behind the last non-blank character (trailing
    // blanks dropped), the caret at the end.
    void RecomputeEnd();
    // Tab: the typed characters from `start` to the caret (columns counted from
    // the first typed character) replaced by `text`, the caret behind it. Returns
    // false, changing nothing, when the line would grow beyond 254 characters.
    bool ReplaceBeforeCaret(int start, std::string_view text);

private:
    bool Blank(int column) const { return row_[column] == ' '; }

    char row_[kEditLineSize + 1];
    int caret_ = 1;
    int end_ = 1;
    bool edited_ = false;
};

}  // namespace kelvo
