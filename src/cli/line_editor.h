// The prompt of kelvo-cli at a terminal: line editing on libedit, recall from the
// command history ring, and Tab completion of command words, options and file
// names.
#pragma once

#include <functional>
#include <string>

#include "console/history.h"

struct editline;

namespace kelvo::cli {

// Reads one key for the editor: 1 with `key` set, 0 at the end of input, -1 when
// the program is to end (a termination signal).
using KeyReader = std::function<int(char& key)>;

class LineEditor {
public:
    LineEditor(CommandHistory& history, KeyReader readKey);
    ~LineEditor();
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // Shows the prompt and reads a line. Returns false at Ctrl+D on an empty line,
    // at the end of input or when the program is to end. `edited` is false for a
    // recalled line taken unchanged.
    bool ReadLine(std::string& line, bool& edited);

private:
    static unsigned char Recall(editline* el, int direction);
    static unsigned char OnOlder(editline* el, int);
    static unsigned char OnNewer(editline* el, int);
    static unsigned char OnClear(editline* el, int);
    static unsigned char OnComplete(editline* el, int);
    static int OnKey(editline* el, wchar_t* key);
    static LineEditor& Of(editline* el);
    static char* Prompt(editline* el);
    void ReplaceLine(const std::string& text);

    CommandHistory& history_;
    KeyReader readKey_;
    editline* el_ = nullptr;
    std::string recalled_;  // the entry last recalled, unchanged so far
    bool recalling_ = false;
    char prompt_[2] = ">";  // libedit asks for it writable
};

}  // namespace kelvo::cli
