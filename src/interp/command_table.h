// The command language as one table: a row per command with everything the
// interpreter needs to know about it. The keyword match of command words, the
// alias expansion of prepared lines, the refusal of a command the instrument
// connection cannot carry out and the help pages all come from the rows.
//
// Adding a command: one row in the table (script/command_language.cpp), its
// handler, and its help pages (interp/help_pages.h).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "interp/help.h"
#include "interp/keywords.h"
#include "interp/parse_cursor.h"
#include "interp/interp_context.h"

namespace kelvo {

// What a command needs of the way the instrument is reached, beyond writing and
// reading messages. A connection offers a set of these; a command that needs one
// the connection lacks is refused before its handler runs.
enum class Capability : std::uint16_t {
    None = 0,
    CommandBytes = 1 << 0,    // bus command bytes (SEND COMMAND, addressing)
    SerialPoll = 1 << 1,
    ParallelPoll = 1 << 2,    // configure, poll, unconfigure
    InterfaceClear = 1 << 3,  // IFC
    RemoteEnable = 1 << 4,    // REN, local lockout
    Trigger = 1 << 5,         // group execute trigger
    DeviceClear = 1 << 6,     // DCL, SDC
    GoToLocal = 1 << 7,       // GTL
    CountedRead = 1 << 8,     // reads of a byte count or until nothing is left
    LocalLockout = 1 << 9,    // LLO
};

constexpr Capability operator|(Capability a, Capability b) {
    return static_cast<Capability>(static_cast<std::uint16_t>(a) | static_cast<std::uint16_t>(b));
}
// True when `offered` holds every capability of `needed`.
constexpr bool Covers(Capability offered, Capability needed) {
    return (static_cast<std::uint16_t>(needed) & ~static_cast<std::uint16_t>(offered)) == 0;
}

inline constexpr Capability kAllCapabilities =
    Capability::CommandBytes | Capability::SerialPoll | Capability::ParallelPoll | Capability::InterfaceClear |
    Capability::RemoteEnable | Capability::Trigger | Capability::DeviceClear | Capability::GoToLocal |
    Capability::CountedRead | Capability::LocalLockout;

class InterpContext;

// A command's handler. The command language adapts the handlers of the layers
// above to this one signature; the context is always the whole session.
using CommandHandler = void (*)(InterpContext& s, ParseCursor& cursor);

struct CommandRow {
    std::uint8_t id = 0;               // the command number (CommandId)
    std::string_view word;             // the command word; empty for the prompt's own row
    char alias = '\0';                 // the single letter that stands for the word, or 0
    CommandHandler handler = nullptr;  // null: the dispatcher acts on the number itself
    const KeywordEntry* options = nullptr;  // the option words, or null when it takes none
    std::string_view optionName;            // the command's name in option error messages
    std::span<const HelpLine> summary;      // the short description
    std::span<const HelpLine> syntax;       // the syntax page
    std::span<const HelpLine> appendix;     // printed after the syntax page
    Capability needs = Capability::None;
};

struct CommandTable {
    std::span<const CommandRow> rows;
    // What the instrument connection of the session offers.
    Capability (*offered)(InterpContext& s) = nullptr;

    // The row of command number `id`, or null.
    [[nodiscard]] const CommandRow* Find(std::uint8_t id) const;
    // The command whose word (or alias letter, alone) stands at the cursor, which
    // then stands behind it; null, with the cursor unmoved, when there is none.
    [[nodiscard]] const CommandRow* Match(ParseCursor& cursor) const;
    // The word of the alias letter `letter`, or empty.
    [[nodiscard]] std::string_view AliasWord(char letter) const;
};

// The row of the session's current command in its active table, or null.
[[nodiscard]] const CommandRow* CurrentCommandRow(const InterpContext& s);

}  // namespace kelvo
