#include "cli/line_editor.h"

#include <histedit.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "script/command_language.h"
#include "script/command_files.h"

namespace kelvo::cli {
char* LineEditor::Prompt(EditLine* el) { return Of(el).prompt_; }

LineEditor& LineEditor::Of(EditLine* el) {
    void* self = nullptr;
    el_get(el, EL_CLIENTDATA, &self);
    return *static_cast<LineEditor*>(self);
}

LineEditor::LineEditor(CommandHistory& history, KeyReader readKey) : history_(history), readKey_(std::move(readKey)) {
    el_ = el_init("kelvo-cli", stdin, stdout, stderr);
    el_set(el_, EL_CLIENTDATA, this);
    el_set(el_, EL_EDITOR, "emacs");
    el_set(el_, EL_PROMPT, &Prompt);
    el_set(el_, EL_GETCFN, &OnKey);
    // Ctrl+C at the prompt is a key (it clears the line), not a signal.
    el_set(el_, EL_SETTY, "-d", "-isig", static_cast<const char*>(nullptr));
    // The wide form keeps the names as given; the narrow one copies them into
    // memory that el_end does not free.
    el_wset(el_, EL_ADDFN, L"kelvo-older", L"Recall an older line", &OnOlder);
    el_wset(el_, EL_ADDFN, L"kelvo-newer", L"Recall a newer line", &OnNewer);
    el_wset(el_, EL_ADDFN, L"kelvo-clear", L"Clear the line", &OnClear);
    el_wset(el_, EL_ADDFN, L"kelvo-complete", L"Complete the word", &OnComplete);
    struct Binding {
        const char* keys;
        const char* function;
    };
    static const Binding kBindings[] = {
        {"\\e[A", "kelvo-older"},         {"\\eOA", "kelvo-older"},         {"^P", "kelvo-older"},
        {"\\e[B", "kelvo-newer"},         {"\\eOB", "kelvo-newer"},         {"^N", "kelvo-newer"},
        {"^C", "kelvo-clear"},            {"^I", "kelvo-complete"},         {"^A", "ed-move-to-beg"},
        {"^E", "ed-move-to-end"},         {"^K", "ed-kill-line"},           {"^U", "em-kill-line"},
        {"^W", "ed-delete-prev-word"},    {"\\e[H", "ed-move-to-beg"},      {"\\e[F", "ed-move-to-end"},
        {"\\eOH", "ed-move-to-beg"},      {"\\eOF", "ed-move-to-end"},      {"\\e[1~", "ed-move-to-beg"},
        {"\\e[4~", "ed-move-to-end"},     {"\\e[3~", "ed-delete-next-char"}, {"\\e[1;5D", "ed-prev-word"},
        {"\\e[1;5C", "em-next-word"},     {"\\e[5D", "ed-prev-word"},       {"\\e[5C", "em-next-word"},
    };
    for (const Binding& b : kBindings) el_set(el_, EL_BIND, b.keys, b.function, static_cast<const char*>(nullptr));
}

LineEditor::~LineEditor() {
    if (el_ != nullptr) el_end(el_);
}

int LineEditor::OnKey(EditLine* el, wchar_t* key) {
    char c = 0;
    const int got = Of(el).readKey_(c);
    if (got != 1) return got;
    *key = static_cast<wchar_t>(static_cast<unsigned char>(c));
    return 1;
}

void LineEditor::ReplaceLine(const std::string& text) {
    const LineInfo* info = el_line(el_);
    el_cursor(el_, static_cast<int>(info->lastchar - info->cursor));
    info = el_line(el_);
    el_deletestr(el_, static_cast<int>(info->lastchar - info->buffer));
    if (!text.empty()) el_insertstr(el_, text.c_str());
}

unsigned char LineEditor::Recall(EditLine* el, int direction) {
    LineEditor& self = Of(el);
    const char* entry = self.history_.Recall(direction);
    if (entry == nullptr) return CC_REFRESH_BEEP;
    self.ReplaceLine(entry);
    self.recalled_ = entry;
    self.recalling_ = true;
    return CC_REFRESH;
}

unsigned char LineEditor::OnOlder(EditLine* el, int) { return Recall(el, kRecallOlder); }
unsigned char LineEditor::OnNewer(EditLine* el, int) { return Recall(el, kRecallNewer); }

unsigned char LineEditor::OnClear(EditLine* el, int) {
    LineEditor& self = Of(el);
    self.ReplaceLine("");
    self.recalling_ = false;
    return CC_REFRESH;
}

unsigned char LineEditor::OnComplete(EditLine* el, int) {
    const LineInfo* info = el_line(el);
    const std::string line(info->buffer, info->lastchar);
    const auto cursor = static_cast<std::size_t>(info->cursor - info->buffer);
    const Completion completion = CompleteWord(line, cursor);
    if (completion.candidates.empty()) return CC_REFRESH_BEEP;
    const std::string typed = line.substr(completion.wordStart, cursor - completion.wordStart);
    const std::string text = CompletedText(completion, typed);
    if (text != typed && line.size() - typed.size() + text.size() <= kMaxCommandLine) {
        el_deletestr(el, static_cast<int>(typed.size()));
        el_insertstr(el, text.c_str());
    }
    if (completion.candidates.size() == 1) return CC_REFRESH;
    // Several: listed below the prompt, which is then drawn again.
    std::string list = "\n";
    for (const std::string& candidate : completion.candidates) {
        std::string shown = candidate;
        if (completion.fileNames) {
            const std::size_t slash = shown.find_last_of('/', shown.size() >= 2 ? shown.size() - 2 : 0);
            if (slash != std::string::npos && slash + 1 < shown.size()) shown = shown.substr(slash + 1);
        }
        list += shown;
        list += "  ";
    }
    list.resize(list.size() - 2);
    list += '\n';
    std::fputs(list.c_str(), stdout);
    std::fflush(stdout);
    return CC_REDISPLAY;
}

bool LineEditor::ReadLine(std::string& line, bool& edited) {
    recalling_ = false;
    int count = 0;
    const char* got = el_gets(el_, &count);
    if (got == nullptr || count <= 0) {
        std::fputc('\n', stdout);
        std::fflush(stdout);
        return false;
    }
    line.assign(got, static_cast<std::size_t>(count));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    edited = !(recalling_ && line == recalled_);
    return true;
}

}  // namespace kelvo::cli
