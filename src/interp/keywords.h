// Table-driven recognition of command and option words.
//
// A keyword tree is a node: an array of KeywordEntry records ended by one whose
// character is 0. Entries lead, character by character, to ParseAction records.
// The walk below knows no command word: the tables are the command language.
#pragma once

#include <cstdint>

#include "interp/parse_cursor.h"
#include "interp/interp_context.h"

namespace kelvo {

enum class EntryKind : std::int8_t { Leaf = 0, Branch = 1, Tail = 2, BranchOrLeaf = 3 };

class InterpContext;

enum class ActionKind : std::uint8_t {
    None = 0,
    SetField = 3,          // field := the action's constant
    CallWithOperands = 4,  // word reader(cursor, text field, given flag)
    ReadDoubleInto = 5,    // field := reader(cursor); given := true
    ReadLongInto = 6,
    ReadShortInto = 7,
};

// Where a word option copies its word: a text field of `capacity` bytes, its
// case-kept twin and the flag that says it was given.
struct WordTarget {
    char* text = nullptr;
    char* typed = nullptr;
    std::uint16_t capacity = 0;
    bool* given = nullptr;
};

// Reads one word into a text field and its twin. Returns the characters copied,
// or -1 when the word did not fit (already reported).
using WordReader = int (*)(InterpContext& s, ParseCursor& cursor, const WordTarget& target);

// The tables are shared by every session, so an action names its field by a
// function that finds it in the session at hand.
struct ParseAction {
    ActionKind kind = ActionKind::None;
    std::uint8_t commandId = 0;  // for the actions at the end of command words
    void (*assign)(InterpContext&) = nullptr;            // SetField: stores its constant
    std::int16_t* (*field16)(InterpContext&) = nullptr;  // ReadShortInto
    std::int32_t* (*field32)(InterpContext&) = nullptr;  // ReadLongInto
    double* (*fieldDouble)(InterpContext&) = nullptr;    // ReadDoubleInto
    WordTarget (*word)(InterpContext&) = nullptr;        // CallWithOperands
    bool* (*given)(InterpContext&) = nullptr;            // kinds 5 to 7
    std::int32_t (*readLong)(ParseCursor&) = nullptr;
    std::int16_t (*readShort)(ParseCursor&) = nullptr;
    double (*readDouble)(ParseCursor&) = nullptr;
    WordReader readWord = nullptr;
};

struct KeywordEntry {
    char character;      // 0 ends the node
    EntryKind kind;
    const void* target;  // ParseAction, node, TailRecord or BranchOrLeafRecord, by kind
};

struct TailRecord {
    const char* rest;
    const ParseAction* action;
};

struct BranchOrLeafRecord {
    std::int8_t mode;  // 1: table is a node, 2: a tail record
    const void* table;
    const ParseAction* fallback;
};

// Builders for the static tables.
constexpr KeywordEntry Leaf(char c, const ParseAction& a) { return {c, EntryKind::Leaf, &a}; }
constexpr KeywordEntry Branch(char c, const KeywordEntry* node) { return {c, EntryKind::Branch, node}; }
constexpr KeywordEntry Tail(char c, const TailRecord& t) { return {c, EntryKind::Tail, &t}; }
constexpr KeywordEntry Either(char c, const BranchOrLeafRecord& r) {
    return {c, EntryKind::BranchOrLeaf, &r};
}
constexpr KeywordEntry EndOfNode() { return {0, EntryKind::Leaf, nullptr}; }

// Matches one word at the cursor. Mode 1: `table` is a node; mode 2: a tail
// record. On success the cursor stands behind the word; on failure it is back
// where it was and null is returned.
const ParseAction* MatchKeyword(ParseCursor& cursor, int mode, const void* table);

// True when a matched word may end before `current`.
bool IsWordEnd(char current, char last);

// Performs an action. Returns 0, or 1 when it failed and reported why (a word
// that did not fit its field).
[[nodiscard]] std::int16_t InvokeAction(InterpContext& s, ParseCursor& cursor, const ParseAction& action);

}  // namespace kelvo
