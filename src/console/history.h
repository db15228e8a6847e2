// The ring of the last 32 command lines, recalled with the cursor keys.
#pragma once

#include <cstdint>

namespace kelvo {

inline constexpr int kHistoryEntries = 32;
inline constexpr int kHistoryEntrySize = 200;

struct CommandHistory {
    std::int32_t recallIndex = 0;  // the entry last recalled
    std::int32_t writeIndex = 0;   // the entry the next line goes to
    std::int32_t empty = 1;        // 1 while no line was ever added
    char entries[kHistoryEntries][kHistoryEntrySize] = {};

    // Adds a line unless it is empty, begins with "X", or was not edited. A line
    // longer than an entry is kept cut to 199 characters.
    void Add(const char* line, bool lineEdited);
    // Direction 53 recalls an older line, 54 a newer one. Returns the entry, or
    // null while the history is empty.
    const char* Recall(int direction);
    void Clear();
};

inline constexpr int kRecallOlder = 53;
inline constexpr int kRecallNewer = 54;

}  // namespace kelvo
