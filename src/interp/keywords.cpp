#include "interp/keywords.h"

namespace kelvo {

bool IsWordEnd(char current, char last) {
    if (current == '\0' || current == ' ' || current == '?' || current == ';') return true;
    return last == '#' && current >= '0' && current <= '9';
}

const ParseAction* MatchKeyword(ParseCursor& cursor, int mode, const void* table) {
    const char* const saved = cursor.pos;
    const ParseAction* candidate = nullptr;
    char last = '\0';

    if (mode == 2) {
        const auto* tail = static_cast<const TailRecord*>(table);
        const char* rest = tail->rest;
        while (*rest != '\0' && cursor.CurrentChar() == *rest) {
            ++rest;
            cursor.NextChar();
        }
        if (*rest != '\0') {
            cursor.pos = saved;
            return nullptr;
        }
        candidate = tail->action;
        last = cursor.CurrentChar();
    } else {
        const char c = cursor.CurrentChar();
        const auto* entry = static_cast<const KeywordEntry*>(table);
        while (entry->character != '\0' && entry->character != c) ++entry;
        if (entry->character == '\0') {
            cursor.pos = saved;
            return nullptr;
        }
        cursor.NextChar();
        switch (entry->kind) {
            case EntryKind::Branch:
                candidate = MatchKeyword(cursor, 1, entry->target);
                break;
            case EntryKind::Tail:
                candidate = MatchKeyword(cursor, 2, entry->target);
                break;
            case EntryKind::BranchOrLeaf: {
                const auto* record = static_cast<const BranchOrLeafRecord*>(entry->target);
                candidate = MatchKeyword(cursor, record->mode, record->table);
                if (candidate == nullptr) candidate = record->fallback;
                break;
            }
            default:  // Leaf, and any unknown kind
                candidate = static_cast<const ParseAction*>(entry->target);
                break;
        }
        last = entry->character;
    }

    if (candidate == nullptr || !IsWordEnd(cursor.CurrentChar(), last)) {
        cursor.pos = saved;
        return nullptr;
    }
    return candidate;
}

std::int16_t InvokeAction(InterpContext& s, ParseCursor& cursor, const ParseAction& action) {
    switch (action.kind) {
        case ActionKind::SetField:
            action.assign(s);
            break;
        case ActionKind::CallWithOperands:
            if (action.readWord(s, cursor, action.word(s)) < 0) return 1;
            break;
        case ActionKind::ReadDoubleInto:
            *action.fieldDouble(s) = action.readDouble(cursor);
            *action.given(s) = true;
            break;
        case ActionKind::ReadLongInto:
            *action.field32(s) = action.readLong(cursor);
            *action.given(s) = true;
            break;
        case ActionKind::ReadShortInto:
            *action.field16(s) = action.readShort(cursor);
            *action.given(s) = true;
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace kelvo
