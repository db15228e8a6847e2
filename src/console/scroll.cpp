#include "console/scroll.h"

#include <algorithm>

namespace kelvo {
namespace {

// The step is taken as a 16-bit number, then kept inside the range.
std::int32_t Clamp(std::int32_t step, std::int32_t position, std::int32_t maximum) {
    const auto narrow = static_cast<std::int16_t>(step);
    return std::clamp<std::int32_t>(narrow, -position, maximum - position);
}

}  // namespace

void ScrollState::UpdateRanges(std::int32_t currentLine, std::int32_t visibleRows, std::int32_t longestLine,
                               std::int32_t visibleColumns) {
    verticalMax = std::max(0, currentLine - visibleRows + 2);
    vertical = std::min(vertical, verticalMax);
    horizontalMax = std::max(0, longestLine - visibleColumns + 2);
    horizontal = std::min(horizontal, horizontalMax);
}

std::int32_t ScrollState::ScrollVertical(int request, std::int32_t thumb, std::int32_t visibleRows) {
    std::int32_t step = 0;
    switch (request) {
    case kScrollLineUp: step = -1; break;
    case kScrollLineDown: step = 1; break;
    case kScrollPageUp: step = -(visibleRows + 1); break;
    case kScrollPageDown: step = std::max(1, visibleRows); break;
    case kScrollThumbTrack: step = thumb - vertical; break;
    case kScrollTop: step = -vertical; break;
    case kScrollBottom: step = verticalMax - vertical; break;
    default: break;
    }
    step = Clamp(step, vertical, verticalMax);
    vertical += step;
    return step;
}

std::int32_t ScrollState::ScrollHorizontal(int request, std::int32_t thumb) {
    std::int32_t step = 0;
    switch (request) {
    case kScrollLineUp: step = -1; break;
    case kScrollLineDown: step = 1; break;
    case kScrollPageUp: step = -8; break;
    case kScrollPageDown: step = 8; break;
    case kScrollThumbTrack: step = thumb - horizontal; break;
    default: break;
    }
    step = Clamp(step, horizontal, horizontalMax);
    horizontal += step;
    return step;
}

}  // namespace kelvo
