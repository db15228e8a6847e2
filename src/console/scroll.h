// Scroll positions of the console's output area: ranges, steps and clamping.
#pragma once

#include <cstdint>

namespace kelvo {

// Scroll requests, numbered as the scroll bar reports them.
enum ScrollRequest : int {
    kScrollLineUp = 0,
    kScrollLineDown = 1,
    kScrollPageUp = 2,
    kScrollPageDown = 3,
    kScrollThumbPosition = 4,
    kScrollThumbTrack = 5,
    kScrollTop = 6,
    kScrollBottom = 7,
};

struct ScrollState {
    std::int32_t vertical = 0;     // display line shown in the first output row
    std::int32_t horizontal = 0;   // columns the output is shifted left
    std::int32_t verticalMax = 0;
    std::int32_t horizontalMax = 0;

    // New ranges after the store or the window changed; positions clamped.
    void UpdateRanges(std::int32_t currentLine, std::int32_t visibleRows, std::int32_t longestLine,
                      std::int32_t visibleColumns);
    // Applies a request and returns the step taken in lines or columns (0: nothing
    // moves and nothing is repainted). `thumb` is the thumb position of a track.
    std::int32_t ScrollVertical(int request, std::int32_t thumb, std::int32_t visibleRows);
    std::int32_t ScrollHorizontal(int request, std::int32_t thumb);
};

}  // namespace kelvo
