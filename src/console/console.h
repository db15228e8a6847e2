// The console's text store and the output operations every command uses.
//
// The store keeps every line written since the current command line began, with
// the colour (TextAttribute) of every piece. Each change is handed to the Host at
// once so that it is drawn as it happens; the store itself knows nothing of
// windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "console/console_context.h"

namespace kelvo {

class Host;

inline constexpr int kMaxRuns = 16;           // coloured pieces a line can hold
inline constexpr int kLineTextSize = 200;     // text bytes of a line, NUL included
inline constexpr int kMaxLineChars = 198;     // characters a line can hold
inline constexpr int kLineBlock = 250;        // lines at start, and per growth step
inline constexpr int kMaxVisibleColumns = 200;

// Attribute numbers of the console palette that the code names.
enum TextAttributes : int {
    kAttrBackground = 0,
    kAttrValue = 1,       // black: values, names, received data, the edit line
    kAttrFileName = 2,    // dark red: a file name that could not be opened
    kAttrWords = 3,       // dark blue: descriptive words of progress sentences
    kAttrStatus = 5,      // dark green: status notes, help descriptions
    kAttrLabel = 6,       // olive: error detail labels, help
    kAttrError = 7,       // red: error messages
    kAttrHelp = 8,        // blue: help, time marks
};
inline constexpr int kPaletteSize = 14;

struct Rgb {
    std::uint8_t r, g, b;
};
extern const Rgb ConsolePalette[kPaletteSize];

struct TextRun {
    std::uint16_t start;      // column of the run's first character
    std::uint16_t length;     // characters in the run
    std::uint16_t attribute;  // TextAttribute
    std::int32_t x;           // pixel offset of the first character, when written
};

struct DisplayLine {
    std::int16_t runCount;
    TextRun runs[kMaxRuns];
    std::uint16_t length;
    char text[kLineTextSize];
};

class Console {
public:
    // Decides whether a block of `lines` lines may be allocated; tests use it to
    // refuse memory. The default always agrees.
    using AllocationPolicy = std::function<bool(std::size_t lines)>;

    explicit Console(Host& host);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Output operations.
    void PrintText(int attribute, std::string_view text);
    void PrintLong(int attribute, std::int32_t value);
    void PrintNewLine();
    void ReturnToLineStart();
    void ClearToLineEnd();
    void ClearDisplay();

    // Store operations behind PrintText and PrintNewLine.
    void AppendText(const char* text, int count, int attribute);
    void NewLine();

    // Layout: cell size and client area in pixels, as the window reports them.
    void SetLayout(int cellWidth, int cellHeight, int clientWidth, int clientHeight);
    int VisibleColumns() const { return visibleColumns_; }
    int VisibleRows() const { return visibleRows_; }
    int CellWidth() const { return cellWidth_; }
    int CellHeight() const { return cellHeight_; }
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }

    // Read access for the renderer, the front ends and the tests.
    bool HasStore() const { return lines_ != nullptr; }
    const DisplayLine& Line(int index) const { return lines_.get()[index]; }
    std::int32_t LineCapacity() const { return lineCapacity_; }
    std::int32_t CurrentLine() const { return currentLine_; }
    std::int32_t OutputColumn() const { return outputColumn_; }
    std::int32_t LineEnd() const { return lineEnd_; }
    std::int16_t LongestLine() const { return longestLine_; }
    std::int32_t DocumentHeight() const { return documentHeight_; }

    void SetAllocationPolicy(AllocationPolicy policy) { allocationPolicy_ = std::move(policy); }

private:
    // The block holds capacity + 1 records. It is plain memory so that growth can
    // extend it in place (realloc) rather than copy it every 250 lines. A block
    // grown by a long command line is kept when the display is cleared (up to
    // kKeptLines records) so that the next one writes into pages that are
    // already there instead of faulting fresh ones in; the records past the
    // capacity are cleared again when growth takes them.
    struct FreeBlock {
        void operator()(DisplayLine* block) const;
    };
    using LineBlock = std::unique_ptr<DisplayLine, FreeBlock>;
    LineBlock AllocateLines(std::int32_t capacity);
    bool GrowLines(std::int32_t capacity);
    void RecomputeLayout();
    int LineWidth() const;

    static constexpr std::size_t kKeptLines = 16 * 1024;

    LineBlock lines_;
    std::size_t allocatedLines_ = 0;  // records the block has room for
    std::int32_t lineCapacity_ = 0;
    std::int32_t currentLine_ = 0;
    std::int32_t outputColumn_ = 0;
    std::int32_t lineEnd_ = 0;
    std::int16_t longestLine_ = 0;
    std::int32_t documentHeight_ = 0;

    int cellWidth_ = 8;
    int cellHeight_ = 16;
    int clientWidth_ = 640;
    int clientHeight_ = 480;
    int visibleColumns_ = 80;
    int visibleRows_ = 30;

    AllocationPolicy allocationPolicy_;
    Host& host_;  // where every change is drawn
};

// The output operations of a session, as the commands call them: the text goes
// to the session's console and, while a command file's response file is open, to
// that file as well.
void PrintText(ConsoleContext& s, int attribute, std::string_view text);
void PrintLong(ConsoleContext& s, int attribute, std::int32_t value);
void PrintNewLine(ConsoleContext& s);
void ReturnToLineStart(ConsoleContext& s);
void ClearToLineEnd(ConsoleContext& s);
void ClearDisplay(ConsoleContext& s);

// Signals.
void SignalError(ConsoleContext& s);     // counts the error, sets ErrorFlag, beeps 1661 Hz 157 ms
void CompletionBeep(ConsoleContext& s);  // 831 Hz 157 ms
void WarningBeep(ConsoleContext& s);     // 1661 Hz 100 ms, always

// Keeping the user interface alive during long operations.
void PumpMessages(ConsoleContext& s);
void PumpMessagesFor(ConsoleContext& s, std::uint16_t milliseconds);

}  // namespace kelvo
