#include "interp/command_table.h"

#include "interp/command_ids.h"
#include "interp/interp_context.h"

namespace kelvo {

const CommandRow* CommandTable::Find(std::uint8_t id) const {
    for (const CommandRow& row : rows)
        if (row.id == id) return &row;
    return nullptr;
}

const CommandRow* CommandTable::Match(ParseCursor& cursor) const {
    const std::string_view rest(cursor.pos);
    const auto after = [&rest](std::size_t n) { return n < rest.size() ? rest[n] : '\0'; };
    // A whole word, ended as any keyword is; a longer word is no match.
    for (const CommandRow& row : rows) {
        if (row.word.empty() || !rest.starts_with(row.word)) continue;
        if (!IsWordEnd(after(row.word.size()), row.word.back())) continue;
        cursor.pos += row.word.size();
        return &row;
    }
    // The alias letter standing alone.
    for (const CommandRow& row : rows) {
        if (row.alias == '\0' || rest.empty() || rest[0] != row.alias) continue;
        if (!IsWordEnd(after(1), row.alias)) continue;
        cursor.pos += 1;
        return &row;
    }
    return nullptr;
}

std::string_view CommandTable::AliasWord(char letter) const {
    if (letter == '\0') return {};
    for (const CommandRow& row : rows)
        if (row.alias == letter) return row.word;
    return {};
}

const CommandRow* CurrentCommandRow(const InterpContext& s) {
    return s.ActiveCommands != nullptr ? s.ActiveCommands->Find(s.CurrentCommandId) : nullptr;
}

}  // namespace kelvo
