// The core's one door to the platform: sound, the event loop, the clock and the
// screen. The desktop program, the headless console and the tests each supply
// their own Host; the core never calls anything platform-specific directly.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvo {

class Host {
public:
    virtual ~Host() = default;

    // Sounds a tone and returns when it has ended.
    virtual void Beep(unsigned hz, unsigned ms) = 0;
    // Handles every pending user-interface event, then returns.
    virtual void PumpMessages() = 0;
    // Milliseconds since some fixed point; wraps like a 32-bit tick counter.
    virtual std::uint32_t TickCount() = 0;
    // Called while the core waits on the tick counter without handling events:
    // a real host lets a millisecond pass, a test host moves its clock.
    virtual void Idle() {}

    // Drawing requests of the console's text store. Rows are display lines of the
    // store (0 = first output line); x is in pixels from the line's left edge.
    virtual void DrawPiece(int line, int x, std::string_view text, int attribute) {
        (void)line; (void)x; (void)text; (void)attribute;
    }
    // A restarted line: blank `count` columns of the line's row from `column`.
    virtual void BlankLineSpan(int line, int column, int count) {
        (void)line; (void)column; (void)count;
    }
    // Blank the line's row from `column` to the right edge.
    virtual void ClearToLineEnd(int line, int column) { (void)line; (void)column; }
    // The store was emptied: repaint the output area blank (the edit row stays).
    virtual void ClearOutputArea() {}
    // Lines were added or the store was cleared or grew: scroll ranges may change.
    virtual void StoreChanged() {}
};

// The host in force. Never null: until one is installed, a silent host with a
// steady clock stands in.
Host& CurrentHost();
// Installs a host (nullptr restores the silent one). Returns the previous one.
Host* SetHost(Host* host);

}  // namespace kelvo
