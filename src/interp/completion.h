// Tab completion of a command line: command words and option words come from the
// command table and its option trees, file names from the folder the typed name points into.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

struct CommandTable;

struct Completion {
    std::size_t wordStart = 0;            // where the word being completed begins
    std::vector<std::string> candidates;  // whole words (file names with their folder), sorted
    bool fileNames = false;
};

// What Tab offers for the word that ends at `cursor`, in the command language
// `table`. Nothing is offered behind a
// ';' (the rest of a line is a comment or data).
Completion CompleteWord(const CommandTable& table, std::string_view line, std::size_t cursor);

// The text that replaces the typed word: a single candidate in full (with a blank
// behind it, or "/" for a folder), else the candidates' longest common beginning.
// The typed part keeps its case.
std::string CompletedText(const Completion& completion, std::string_view typed);

}  // namespace kelvo
