#include "console/edit_line.h"

#include <algorithm>
#include <cstring>

namespace kelvo {

EditLine::EditLine() { Clear(); }

bool EditLine::Insert(char c) {
    if (caret_ >= kEditLineSize || end_ >= kEditLineSize) return false;
    std::memmove(row_ + caret_ + 1, row_ + caret_, static_cast<std::size_t>(end_ - caret_));
    row_[caret_] = c;
    ++caret_;
    ++end_;
    edited_ = true;
    return true;
}

void EditLine::Delete() {
    if (caret_ >= end_) return;
    std::memmove(row_ + caret_, row_ + caret_ + 1, static_cast<std::size_t>(end_ - caret_ - 1));
    row_[end_ - 1] = ' ';
    --end_;
    edited_ = true;
}

void EditLine::Backspace() {
    if (caret_ <= 1) return;
    --caret_;
    Delete();
}

void EditLine::Clear() {
    std::memset(row_, ' ', kEditLineSize);
    row_[0] = '>';
    row_[kEditLineSize] = '\0';
    caret_ = end_ = 1;
}

void EditLine::Left() {
    if (caret_ > 1) --caret_;
}

void EditLine::Right() {
    if (caret_ < end_) ++caret_;
}

void EditLine::WordLeft() {
    Left();
    while (caret_ > 1 && Blank(caret_)) --caret_;
    while (caret_ > 1 && !Blank(caret_)) --caret_;
    if (caret_ < end_ && Blank(caret_) && !Blank(caret_ + 1)) ++caret_;
}

void EditLine::WordRight() {
    Right();
    while (caret_ < end_ && !Blank(caret_)) ++caret_;
    while (caret_ < end_ && Blank(caret_)) ++caret_;
}

std::size_t EditLine::Take(char* destination, std::size_t size) const {
    if (size == 0) return 0;
    std::memset(destination, 0, size);
    const std::size_t count = std::min(static_cast<std::size_t>(end_ - 1), size - 1);
    std::memcpy(destination, row_ + 1, count);
    return count;
}

void EditLine::Set(std::string_view text) {
    Clear();
    const auto n = static_cast<int>(std::min<std::size_t>(text.size(), kEditLineShown));
    std::memcpy(row_ + 1, text.data(), static_cast<std::size_t>(n));
    caret_ = end_ = n + 1;
}

bool EditLine::ReplaceBeforeCaret(int start, std::string_view text) {
    const int from = std::clamp(start + 1, 1, caret_);
    const auto length = static_cast<int>(text.size());
    const int newEnd = end_ - (caret_ - from) + length;
    if (newEnd > kEditLineSize) return false;
    std::memmove(row_ + from + length, row_ + caret_, static_cast<std::size_t>(end_ - caret_));
    std::memcpy(row_ + from, text.data(), text.size());
    for (int column = newEnd; column < end_; ++column) row_[column] = ' ';
    caret_ = from + length;
    end_ = newEnd;
    edited_ = true;
    return true;
}

void EditLine::RecomputeEnd() {
    int end = 1;
    for (int column = 1; column < kEditLineSize; ++column)
        if (!Blank(column)) end = column + 1;
    end_ = caret_ = end;
}

}  // namespace kelvo
