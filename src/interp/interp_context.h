// What the interpreter layer of a session adds: the interface settings the
// command lines change, the fields option words write, and the command in
// progress.
#pragma once

#include "base/interface_record.h"
#include "console/console_context.h"
#include "interp/command_ids.h"
#include "interp/parsed_command.h"

namespace kelvo {

struct CommandTable;

class InterpContext : public ConsoleContext {
public:
    using ConsoleContext::ConsoleContext;

    InterfaceSettings Settings;
    ParsedCommand Parsed;
    // The command being run; ParseOptions picks the option tree by it and help
    // shows its pages.
    CommandId CurrentCommandId = kNoCommand;
    // The table of the line being run: help and option parsing find the current
    // command's row in it. Set by the dispatcher.
    const CommandTable* ActiveCommands = nullptr;
};

}  // namespace kelvo
