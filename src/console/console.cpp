#include "console/console.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "console/host.h"
#include "console/program_state.h"

namespace kelvo {

const Rgb ConsolePalette[kPaletteSize] = {
    {255, 255, 255}, {0, 0, 0},     {128, 0, 0},   {0, 0, 128},     {64, 0, 64},
    {0, 128, 0},     {64, 64, 0},   {196, 0, 0},   {0, 0, 196},     {255, 0, 255},
    {0, 196, 0},     {175, 214, 255}, {128, 128, 128}, {128, 128, 0},
};

Console::Console(Host& host) : host_(host) {
    lines_ = AllocateLines(kLineBlock);
    if (lines_) lineCapacity_ = kLineBlock;
    RecomputeLayout();
}

Console::~Console() = default;

void Console::FreeBlock::operator()(DisplayLine* block) const { std::free(block); }

Console::LineBlock Console::AllocateLines(std::int32_t capacity) {
    // One record more than the capacity, as the store has always had.
    const auto count = static_cast<std::size_t>(capacity) + 1;
    if (allocationPolicy_ && !allocationPolicy_(count)) return nullptr;
    LineBlock block(static_cast<DisplayLine*>(std::calloc(count, sizeof(DisplayLine))));
    allocatedLines_ = block ? count : 0;
    return block;  // calloc leaves every line empty
}

bool Console::GrowLines(std::int32_t capacity) {
    const auto count = static_cast<std::size_t>(capacity) + 1;
    if (allocationPolicy_ && !allocationPolicy_(count)) return false;
    if (count > allocatedLines_) {
        auto* grown = static_cast<DisplayLine*>(std::realloc(lines_.get(), count * sizeof(DisplayLine)));
        if (grown == nullptr) return false;  // the old block is still there
        (void)lines_.release();
        lines_.reset(grown);
        allocatedLines_ = count;
    }
    // The old lines behind the current one are empty already; the new ones are
    // made so (a kept block still holds an earlier command line's text there).
    const auto old = static_cast<std::size_t>(lineCapacity_) + 1;
    std::memset(lines_.get() + old, 0, (count - old) * sizeof(DisplayLine));
    return true;
}

void Console::SetLayout(int cellWidth, int cellHeight, int clientWidth, int clientHeight) {
    cellWidth_ = std::max(1, cellWidth);
    cellHeight_ = std::max(1, cellHeight);
    clientWidth_ = std::max(0, clientWidth);
    clientHeight_ = std::max(0, clientHeight);
    RecomputeLayout();
}

void Console::RecomputeLayout() {
    visibleColumns_ = std::clamp(clientWidth_ / cellWidth_, 1, kMaxVisibleColumns);
    visibleRows_ = std::clamp(clientHeight_ / cellHeight_, 1, std::max(1, lineCapacity_));
    documentHeight_ = std::max(clientHeight_, (currentLine_ + 1) * cellHeight_);
}

int Console::LineWidth() const {
    // A one-column window would leave no room at all; one character a line still
    // shows the text and guarantees progress.
    return std::max(1, std::min(visibleColumns_ - 1, kMaxLineChars));
}

void Console::PrintText(int attribute, std::string_view text) {
    // Text ends at its first NUL, as the C string it stands for, in the response
    // file as on the screen.
    const auto end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    AppendText(text.data(), static_cast<int>(std::min<std::size_t>(text.size(), INT32_MAX)), attribute);
}

void Console::PrintLong(int attribute, std::int32_t value) {
    char buffer[16];
    const char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    AppendText(buffer, static_cast<int>(end - buffer), attribute);
}

void Console::PrintNewLine() {
    NewLine();
}

void Console::ReturnToLineStart() { outputColumn_ = 0; }

void Console::AppendText(const char* text, int count, int attribute) {
    if (!lines_ || count <= 0) return;
    Host& host = host_;
    for (;;) {
        if (currentLine_ >= lineCapacity_ - 1) return;  // the last line is never written
        DisplayLine& line = lines_.get()[currentLine_];
        if (outputColumn_ < lineEnd_) {
            // Restarted after ReturnToLineStart: the new text replaces the line.
            line.runCount = 0;
            host.BlankLineSpan(currentLine_, outputColumn_, lineEnd_ - outputColumn_);
            lineEnd_ = 0;
        }
        int piece = std::min(count, LineWidth() - lineEnd_);
        if (piece > 0) {
            const bool joinsLastRun = line.runCount > 0 &&
                                      line.runs[line.runCount - 1].attribute == attribute;
            if (line.runCount >= kMaxRuns && !joinsLastRun) {
                // No room for another colour on this line: go on with the next one.
                NewLine();
                if (currentLine_ >= lineCapacity_ - 1) return;
                continue;
            }
            const int x = outputColumn_ * cellWidth_;
            host.DrawPiece(currentLine_, x, std::string_view(text, piece), attribute);
            std::memcpy(line.text + outputColumn_, text, static_cast<std::size_t>(piece));
            line.text[outputColumn_ + piece] = '\0';
            if (line.runCount >= kMaxRuns) {
                line.runs[line.runCount - 1].length += static_cast<std::uint16_t>(piece);
            } else {
                line.runs[line.runCount] = TextRun{static_cast<std::uint16_t>(outputColumn_),
                                                   static_cast<std::uint16_t>(piece),
                                                   static_cast<std::uint16_t>(attribute), x};
                ++line.runCount;
            }
            lineEnd_ += piece;
            outputColumn_ += piece;
            line.length = static_cast<std::uint16_t>(lineEnd_);
            longestLine_ = static_cast<std::int16_t>(std::max<int>(longestLine_, lineEnd_));
        }
        count -= std::max(piece, 0);
        if (count <= 0) return;
        text += std::max(piece, 0);
        NewLine();
    }
}

void Console::NewLine() {
    if (!lines_ || currentLine_ >= lineCapacity_ - 1) return;
    ++currentLine_;
    outputColumn_ = 0;
    lineEnd_ = 0;
    lines_.get()[currentLine_].runCount = 0;
    documentHeight_ = std::max(clientHeight_, (currentLine_ + 1) * cellHeight_);

    const auto threshold = static_cast<std::int32_t>(lineCapacity_ * 0.75);
    if (currentLine_ > threshold) {
        const std::int32_t grown = lineCapacity_ + kLineBlock;
        if (GrowLines(grown)) {
            lineCapacity_ = grown;
            RecomputeLayout();
        }
    }
    host_.StoreChanged();
}

void Console::ClearDisplay() {
    if (!lines_) return;
    if (lineCapacity_ != kLineBlock) {
        // Back to the first block's size: the grown block is kept when it is
        // not too large and the policy would let a fresh first block be had.
        const auto first = static_cast<std::size_t>(kLineBlock) + 1;
        const bool keep = allocatedLines_ <= kKeptLines && (!allocationPolicy_ || allocationPolicy_(first));
        if (!keep) {
            lines_.reset();
            allocatedLines_ = 0;
            lineCapacity_ = 0;
            lines_ = AllocateLines(kLineBlock);
            if (!lines_) {
                RecomputeLayout();
                return;
            }
        }
        lineCapacity_ = kLineBlock;
    }
    lineEnd_ = 0;
    currentLine_ = 0;
    outputColumn_ = 0;
    longestLine_ = 0;
    std::memset(lines_.get(), 0, sizeof(DisplayLine) * (static_cast<std::size_t>(lineCapacity_) + 1));
    RecomputeLayout();
    documentHeight_ = std::max(clientHeight_, cellHeight_);
    Host& host = host_;
    host.StoreChanged();
    host.ClearOutputArea();
}

void Console::ClearToLineEnd() {
    if (!lines_) return;
    host_.ClearToLineEnd(currentLine_, outputColumn_);
}

namespace {

// After a failed write nothing more goes to the file (RUN reports it once).
std::FILE* OpenResponseFile(ConsoleContext& s) {
    std::FILE* file = s.ResponseFile.get();
    return s.ResponseFileActive && file != nullptr && std::ferror(file) == 0 ? file : nullptr;
}

}  // namespace

void PrintText(ConsoleContext& s, int attribute, std::string_view text) {
    // Text ends at its first NUL, as the C string it stands for, in the response
    // file as on the screen.
    const auto end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    if (std::FILE* file = OpenResponseFile(s); file != nullptr && !text.empty())
        std::fwrite(text.data(), 1, text.size(), file);
    s.console.PrintText(attribute, text);
}

void PrintLong(ConsoleContext& s, int attribute, std::int32_t value) {
    char buffer[16];
    const char* end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    PrintText(s, attribute, std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

void PrintNewLine(ConsoleContext& s) {
    if (std::FILE* file = OpenResponseFile(s); file != nullptr) std::fwrite("\r\n", 1, 2, file);
    s.console.PrintNewLine();
}

void ReturnToLineStart(ConsoleContext& s) { s.console.ReturnToLineStart(); }
void ClearToLineEnd(ConsoleContext& s) { s.console.ClearToLineEnd(); }
void ClearDisplay(ConsoleContext& s) { s.console.ClearDisplay(); }

void SignalError(ConsoleContext& s) {
    s.ErrorCount += 1;
    s.ErrorFlag = true;
    if (!s.ExitRequested) s.host.Beep(1661, 157);
}

void CompletionBeep(ConsoleContext& s) {
    if (!s.ExitRequested) s.host.Beep(831, 157);
}

void WarningBeep(ConsoleContext& s) { s.host.Beep(1661, 100); }

void PumpMessages(ConsoleContext& s) { s.host.PumpMessages(); }

void PumpMessagesFor(ConsoleContext& s, std::uint16_t milliseconds) {
    if (milliseconds == 0) return;
    Host& host = s.host;
    const std::uint32_t end = host.TickCount() + milliseconds;
    // Signed difference, so that the wait survives the tick counter wrapping.
    while (static_cast<std::int32_t>(host.TickCount() - end) < 0) {
        host.PumpMessages();
        host.Idle();  // sleep between passes instead of spinning
    }
}

}  // namespace kelvo
