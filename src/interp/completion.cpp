#include "interp/completion.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "interp/command_ids.h"
#include "interp/command_table.h"

namespace kelvo {
namespace {

struct Word {
    std::string text;
    const ParseAction* action;
};

// Every whole word of a keyword tree. The single-letter stand-ins of longer words
// (E for ENTER) are skipped unless `withShortForms`.
void CollectWords(const KeywordEntry* node, std::string prefix, bool withShortForms, std::vector<Word>& out) {
    for (const KeywordEntry* e = node; e->character != 0; ++e) {
        const std::string word = prefix + e->character;
        switch (e->kind) {
            case EntryKind::Leaf: out.push_back({word, static_cast<const ParseAction*>(e->target)}); break;
            case EntryKind::Branch:
                CollectWords(static_cast<const KeywordEntry*>(e->target), word, withShortForms, out);
                break;
            case EntryKind::Tail: {
                const auto* tail = static_cast<const TailRecord*>(e->target);
                out.push_back({word + tail->rest, tail->action});
                break;
            }
            case EntryKind::BranchOrLeaf: {
                const auto* record = static_cast<const BranchOrLeafRecord*>(e->target);
                if (withShortForms || word.size() > 1) out.push_back({word, record->fallback});
                if (record->mode == 1) {
                    CollectWords(static_cast<const KeywordEntry*>(record->table), word, withShortForms, out);
                } else {
                    const auto* tail = static_cast<const TailRecord*>(record->table);
                    out.push_back({word + tail->rest, tail->action});
                }
                break;
            }
        }
    }
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

// Options whose next word is a file name.
bool TakesFileName(std::string_view option) {
    const std::string word = Upper(option);
    return word == "FO" || word == "FO2" || word == "FO3" || word == "FD" || word == "FR";
}

std::vector<std::string> FileCandidates(std::string_view typed) {
    const std::size_t slash = typed.rfind('/');
    const std::string folder(slash == std::string_view::npos ? "" : typed.substr(0, slash + 1));
    const std::string_view base = slash == std::string_view::npos ? typed : typed.substr(slash + 1);
    std::vector<std::string> out;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return out;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || (name[0] == '.' && (base.empty() || base[0] != '.'))) continue;
        if (!StartsWithNoCase(name, base)) continue;
        // The typed part keeps its case; the rest comes from the folder.
        std::string candidate = folder + std::string(base) + std::string(name.substr(base.size()));
        struct stat info {};
        if (stat((folder.empty() ? std::string(name) : folder + std::string(name)).c_str(), &info) == 0 &&
            S_ISDIR(info.st_mode))
            candidate += '/';
        out.push_back(std::move(candidate));
        if (out.size() >= 1000) break;  // a huge folder offers its first thousand
    }
    closedir(dir);
    return out;
}

}  // namespace

Completion CompleteWord(const CommandTable& table, std::string_view line, std::size_t cursor) {
    Completion result;
    const std::string_view before = line.substr(0, std::min(cursor, line.size()));
    result.wordStart = before.size();
    if (before.find(';') != std::string_view::npos) return result;

    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < before.size()) {
        while (i < before.size() && before[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < before.size() && before[i] != ' ') ++i;
        if (i > start) words.push_back(before.substr(start, i - start));
    }
    const bool atNewWord = before.empty() || before.back() == ' ';
    const std::string_view typed = atNewWord || words.empty() ? std::string_view() : words.back();
    if (!atNewWord && !words.empty()) words.pop_back();
    result.wordStart = before.size() - typed.size();

    if (words.empty()) {
        // Whole command words only: the single-letter stand-ins are left out.
        for (const CommandRow& row : table.rows)
            if (!row.word.empty() && StartsWithNoCase(row.word, typed)) result.candidates.emplace_back(row.word);
    } else {
        const std::string command = Upper(words.front());
        const CommandRow* row = nullptr;
        for (const CommandRow& candidate : table.rows)
            if ((!candidate.word.empty() && candidate.word == command) ||
                (candidate.alias != '\0' && command.size() == 1 && command[0] == candidate.alias))
                row = &candidate;
        if (row == nullptr) return result;
        const std::string_view previous = words.back();
        const bool fileAfterCommand = words.size() == 1 && (row->id == kRun || row->id == kShell);
        if (fileAfterCommand || (words.size() > 1 && TakesFileName(previous))) {
            result.fileNames = true;
            result.candidates = FileCandidates(typed);
        } else if (row->options != nullptr) {
            std::vector<Word> options;
            CollectWords(row->options, "", false, options);
            for (const Word& w : options)
                if (StartsWithNoCase(w.text, typed)) result.candidates.push_back(w.text);
        }
    }
    std::sort(result.candidates.begin(), result.candidates.end());
    result.candidates.erase(std::unique(result.candidates.begin(), result.candidates.end()), result.candidates.end());
    return result;
}

std::string CompletedText(const Completion& completion, std::string_view typed) {
    const auto& c = completion.candidates;
    if (c.empty()) return std::string(typed);
    std::string common = c.front();
    for (const std::string& s : c) {
        std::size_t n = 0;
        while (n < common.size() && n < s.size() && common[n] == s[n]) ++n;
        common.resize(n);
    }
    if (c.size() == 1 && !common.empty() && common.back() != '/') common += ' ';
    // Command and option words complete in capitals; a file name keeps the case
    // typed (its candidates begin with the typed text itself).
    if (common.size() < typed.size()) return std::string(typed);
    return common;
}

}  // namespace kelvo
