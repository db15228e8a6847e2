#include "console/history.h"

#include <cstring>

namespace kelvo {

void CommandHistory::Add(const char* line, bool lineEdited) {
    if (line[0] == '\0' || line[0] == 'X' || !lineEdited) return;
    recallIndex = writeIndex;
    std::strncpy(entries[writeIndex], line, kHistoryEntrySize - 1);
    entries[writeIndex][kHistoryEntrySize - 1] = '\0';
    empty = 0;
    writeIndex = (writeIndex + 1) % kHistoryEntries;
}

const char* CommandHistory::Recall(int direction) {
    if (empty == 1) return nullptr;
    for (int tries = 0; tries < kHistoryEntries; ++tries) {
        if (direction == kRecallOlder)
            recallIndex = recallIndex == 0 ? kHistoryEntries - 1 : recallIndex - 1;
        else
            recallIndex = recallIndex + 1 >= kHistoryEntries ? 0 : recallIndex + 1;
        if (recallIndex != writeIndex && entries[recallIndex][0] != '\0') break;
    }
    return entries[recallIndex];
}

void CommandHistory::Clear() { *this = CommandHistory{}; }

}  // namespace kelvo
