// Command numbers. 0 is no command; 12 has no word and stands for the prompt
// itself, whose help is the general help page.
#pragma once

#include <cstdint>

namespace kelvo {

enum CommandId : std::uint8_t {
    kNoCommand = 0,
    kAbort = 1,
    kBeep = 2,
    kClear = 3,
    kEnd = 4,
    kEnter = 5,
    kExit = 6,
    kGet = 7,
    kHelp = 8,
    kIf = 9,
    kLocal = 10,
    kLlock = 11,
    kPrompt = 12,
    kOutput = 13,
    kPause = 14,
    kPpconf = 15,
    kPpoll = 16,
    kPpunc = 17,
    kReceive = 18,
    kRemote = 19,
    kRestore = 20,
    kRun = 21,
    kSend = 22,
    kShell = 23,
    kSpoll = 24,
    kTest = 25,
    kTimeout = 26,
    kTm = 27,
    kTrigger = 28,
    kWait = 29,
    kZip = 30,
    kFind = 31,
};

}  // namespace kelvo
