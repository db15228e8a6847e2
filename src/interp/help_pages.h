// The help texts, one array per page. Each HelpLine is one coloured piece;
// endOfLine 1 ends the console line after it. The command table names each
// command's pages; a command without a page simply has none.
#pragma once

#include "interp/help.h"

namespace kelvo::help_pages {

inline constexpr HelpLine kAbortSummary[] = {
    {5, "Sends Interface Clear (IFC)", 1},
};

inline constexpr HelpLine kBeepSummary[] = {
    {5, "Enables or disables a short beep on procedure completions", 1},
};

inline constexpr HelpLine kClearSummary[] = {
    {5, "Sends Device Clear (DCL) or Selected Device Clear (SDC)", 1},
};

inline constexpr HelpLine kEndSummary[] = {
    {5, "Sets the end message to CRLF or LF", 1},
};

inline constexpr HelpLine kEnterSummary[] = {
    {5, "Enters a string from a GPIB device and prints it", 1},
    {5, "If supplied, will output a string prior to entering", 1},
};

inline constexpr HelpLine kGetSummary[] = {
    {5, "Reads data bytes in from a GPIB device and prints them", 1},
    {5, "If supplied, will output a string prior to geting", 1},
};

inline constexpr HelpLine kIfSummary[] = {
    {5, "Tests the GPIB response and performs branching", 1},
};

inline constexpr HelpLine kLocalSummary[] = {
    {5, "Makes Remote Enable (REN) false or sends the Go To Local (GTL) command", 1},
};

inline constexpr HelpLine kLlockSummary[] = {
    {5, "Sends the Local Lockout (LLO) command", 1},
};

inline constexpr HelpLine kOutputSummary[] = {
    {5, "Outputs a string to a GPIB device", 1},
};

inline constexpr HelpLine kPauseSummary[] = {
    {5, "Prompts the user to press the spacebar when ready and waits", 1},
};

inline constexpr HelpLine kPpconfSummary[] = {
    {5, "Configures a device to respond to a parallel poll", 1},
};

inline constexpr HelpLine kPpollSummary[] = {
    {5, "Conducts a parallel poll and prints the response", 1},
    {5, "Optionally accepts arguments to configure a device ", 0},
    {5, "prior to the poll", 1},
};

inline constexpr HelpLine kPpuncSummary[] = {
    {5, "Unconfigures a selected device or all devices from", 1},
    {5, "responding to a parallel poll", 1},
};

inline constexpr HelpLine kReceiveSummary[] = {
    {5, "Reads data bytes in from the GPIB and prints them", 1},
};

inline constexpr HelpLine kRemoteSummary[] = {
    {5, "Makes Remote Enable (REN) true and optionally sends a listen address", 1},
};

inline constexpr HelpLine kRestoreSummary[] = {
    {5, "Restores communication with the GPIB board if lost", 1},
};

inline constexpr HelpLine kRunSummary[] = {
    {5, "Runs a command file and optionally writes responses to a response file", 1},
};

inline constexpr HelpLine kSendSummary[] = {
    {5, "Sends command and data bytes to the GPIB", 1},
};

inline constexpr HelpLine kShellSummary[] = {
    {5, "Launches another Window application and waits for completion", 1},
};

inline constexpr HelpLine kSpollSummary[] = {
    {5, "Performs a Serial Poll on an instrument and", 1},
    {5, "prints the status byte received", 1},
};

inline constexpr HelpLine kTestSummary[] = {
    {5, "Tests the GPIB response for correctness and performs branching", 1},
    {5, "Errors found during comparisons are recorded", 1},
};

inline constexpr HelpLine kTimeoutSummary[] = {
    {5, "Sets or reports the GPIB timeout", 1},
};

inline constexpr HelpLine kTmSummary[] = {
    {5, "Logs current Time and Prints current and elapsed Time", 1},
};

inline constexpr HelpLine kTriggerSummary[] = {
    {5, "Sends the Group Execute Trigger (GET) command", 1},
};

inline constexpr HelpLine kFindSummary[] = {
    {5, "Lists the instruments that answer *IDN?: the listeners", 1},
    {5, "on the GPIB board, or a TCP/IP address range (raw socket", 1},
    {5, "or VXI-11), probed together", 1},
};

inline constexpr HelpLine kWaitSummary[] = {
    {5, "Waits for the number of seconds in the argument", 1},
};

inline constexpr HelpLine kZipSummary[] = {
    {5, "Addresses an instrument to talk and reads data bytes", 1},
    {5, "until the instrument has nothing more to send", 1},
};

inline constexpr HelpLine kBeepSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "BEEP", 0},
    {8, " [ON or OFF]", 1},
    {1, "If no argument is supplied, makes a short beep", 1},
};

inline constexpr HelpLine kClearSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "CLEAR", 0},
    {8, " [address]", 1},
    {1, "If an address is given, the Selected Device Clear (SDC) command", 1},
    {1, "is sent to clear that device. Otherwise the Device Clear (DCL)", 1},
    {1, "command is sent to clear all devices.", 1},
};

inline constexpr HelpLine kEndSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "END", 0},
    {8, " [options]", 1},
    {5, "Options:", 1},
    {1, "CRLF - Sets the end message to CRLF", 1},
    {1, "LF   - Sets the end message to LF", 1},
    {1, "If neither is specified, then prints out the", 1},
    {1, "current end message", 1},
};

inline constexpr HelpLine kEnterSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "ENTER", 0},
    {8, " [address] [options] [ ; string to send]", 1},
    {5, "Options:", 1},
    {1, "DI - Disable EOI on last byte sent", 1},
    {1, "DS - Disable sending EOS on end", 1},
    {1, "ES - Enable detection of EOS on input", 1},
    {1, "FD [filename] - Put received data into a file", 1},
    {1, "FO [filename] - Output data from a file", 1},
    {1, "FO2 [filename] - Output data from file2", 1},
    {1, "FO3 [filename] - Output data from file3", 1},
    {1, "PA - Prepend arb header before sending FO file data to GPIB", 1},
    {1, "PB - Print data in binary hex format", 1},
    {1, "PN - Print line numbers in received data display", 1},
    {1, "PR - Parse received data into fields delimited by ';' or ','", 1},
    {1, "SA - Strip arb header before writing data to FD file", 1},
    {1, "SD - Suppress displaying received data", 1},
};

inline constexpr HelpLine kGetSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "GET", 0},
    {8, " [address] # [bytecount] [options] [ ; string to send]", 1},
    {5, "Options:", 1},
    {1, "DI - Disable EOI on last byte sent", 1},
    {1, "DS - Disable sending EOS on end", 1},
    {1, "Procedure attempts to read bytecount bytes", 1},
};

inline constexpr HelpLine kIfSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "IF", 0},
    {8, " [options]", 1},
    {5, "Options:", 1},
    {1, "AND [test mask]   - A mask to AND with the response before comparing", 1},
    {1, "MID [mid value]   - The position within the response string to start the comparison", 1},
    {1, "STR [test string] - A string to compare with the response", 1},
    {1, "TOL [tolerance]   - A tolerance value used when comparing", 1},
    {1, "VAL [test value]  - A value to compare with the response", 1},
    {1, "WID [width value] - The number of characters of the response string to compare", 1},
};

inline constexpr HelpLine kLocalSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "LOCAL", 0},
    {8, " [address]", 1},
    {1, "If no address, the Remote Enable Line (REN) is made false", 1},
    {1, "Otherwise, the Go To Local (GTL) command is sent", 1},
};

inline constexpr HelpLine kGeneralSyntax[] = {
    {5, "Enter ", 0},
    {1, "X", 0},
    {5, " to end the program", 1},
    {5, "Append ", 0},
    {1, "?", 0},
    {5, " to any command for more information", 1},
    {5, "Use the cursor ", 0},
    {1, "UP/DOWN", 0},
    {5, " keys to prompt with previous commands", 1},
    {5, "Use the ", 0},
    {1, "ESC", 0},
    {5, " key to clear the command line prompt", 1},
    {5, "The ", 0},
    {1, "ESC", 0},
    {5, " key terminates GPIB transfers", 1},
    {8, "Current commands:", 1},
    {1, "BEEP              OUTPUT or O", 1},
    {1, "CLEAR             SPOLL", 1},
    {1, "END               TIMEOUT", 1},
    {1, "ENTER  or E       TRIGGER or T", 1},
    {1, "GET    or G       ZIP     or Z", 1},
    {8, "Additional for Command File processing:", 1},
    {1, "IF                TEST", 1},
    {1, "PAUSE             TM", 1},
    {1, "RUN               WAIT", 1},
    {1, "SHELL", 1},
};

inline constexpr HelpLine kOutputSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "OUTPUT", 0},
    {8, " [address] [options] [ ; string to send]", 1},
    {5, "Options:", 1},
    {1, "DI - Disable EOI on last byte sent", 1},
    {1, "DS - Disable sending the end message", 1},
    {1, "FO [filename] - Output data from a file", 1},
    {1, "FO2 [filename] - Output data from file2", 1},
    {1, "FO3 [filename] - Output data from file3", 1},
    {1, "PA - Prepend arb header before sending FO file data to GPIB", 1},
};

inline constexpr HelpLine kPauseSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "PAUSE", 1},
};

inline constexpr HelpLine kPpconfSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "PPCONF", 0},
    {8, " [address] [options]", 1},
};

inline constexpr HelpLine kPpollSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "PPOLL", 0},
    {8, " [address] [options]", 1},
};

inline constexpr HelpLine kPpuncSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "PPUNC", 0},
    {8, " [address]", 1},
    {1, "If an address is given, the Parallel Poll Disable (PPD)", 1},
    {1, "command is sent to that device. Otherwise the Parallel Poll", 1},
    {1, "Unconfigure (PPU) command is sent to all devices.", 1},
};

inline constexpr HelpLine kReceiveSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "RECEIVE # ", 0},
    {8, "[bytecount]", 1},
    {1, "Procedure attempts to read bytecount bytes", 1},
};

inline constexpr HelpLine kRemoteSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "REMOTE", 0},
    {8, " [address]", 1},
    {1, "The Remote Enable Line (REN) is made true and if an", 1},
    {1, "address is given, the listen address command is sent", 1},
};

inline constexpr HelpLine kRestoreSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "RESTORE", 1},
};

inline constexpr HelpLine kRunSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "RUN", 0},
    {8, " [command filename] FR [response filename]", 1},
    {1, "The command filename MUST be given", 1},
    {1, "The response file is optional", 1},
};

inline constexpr HelpLine kSendSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "SEND", 0},
    {8, " [options] [ ; byte list entries]", 1},
    {5, "Options:", 1},
    {1, "COMMAND - Sends the byte list with the ATN line TRUE", 1},
    {1, "DATA    - Sends the byte list with the ATN line FALSE", 1},
    {1, "EI      - Enables sending EOI with the last byte", 1},
    {1, "COMMAND or DATA, one or the other, must be specified", 1},
    {5, "Byte list entry types:", 1},
    {1, "'string' - string literals", 1},
    {1, "\"string\" - string literals", 1},
    {1, "xx yy zz - 2 character hex numbers", 1},
    {1, "If the byte list is empty, procedure does nothing", 1},
    {5, "Bus Commands (in hex):", 1},
    {1, "DCL  14           PPD  70", 1},
    {1, "GET  08           PPE  60 - 67, 68 - 6F", 1},
    {1, "GTL  01           PPU  15", 1},
    {1, "LLO  11           SDC  04", 1},
    {1, "MLA  20 - 3E      SPD  19", 1},
    {1, "MSA  60 - 7F      SPE  18", 1},
    {1, "MTA  40 - 5E      UNL  3F", 1},
    {1, "PPC  05           UNT  5F", 1},
};

inline constexpr HelpLine kShellSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "SHELL", 0},
    {8, " [Windows program name] [optional arguments for the program]", 1},
    {1, "The program name, with path and extention must be supplied", 1},
};

inline constexpr HelpLine kSpollSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "SPOLL", 0},
    {8, " [address]", 1},
    {1, "The address must be supplied", 1},
};

inline constexpr HelpLine kTestSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "TEST", 0},
    {8, " [options]", 1},
    {5, "Options:", 1},
    {1, "AND [test mask]   - A mask to AND with the response before comparing", 1},
    {1, "MID [mid value]   - The position within the response string to start the comparison", 1},
    {1, "STR [test string] - A string to compare with the response", 1},
    {1, "TOL [tolerance]   - A tolerance value used when comparing", 1},
    {1, "VAL [test value]  - A value to compare with the response", 1},
    {1, "WID [width value] - The number of characters of the response string to compare", 1},
};

inline constexpr HelpLine kTimeoutSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "TIMEOUT", 0},
    {8, " [number of seconds]", 1},
    {1, "Maximum timeout argument is 10000", 1},
    {1, "0 produces an infinite timeout", 1},
    {1, "If no timeout is given, prints the current timeout", 1},
};

inline constexpr HelpLine kTmSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "TM", 0},
    {8, " [option]", 1},
    {5, "Options:", 1},
    {1, "START - Records the current time to use for elapsed calculation", 1},
    {1, "STOP  - Prints the elapsed time from the last start mark", 1},
    {1, "none  - Prints the current time", 1},
};

inline constexpr HelpLine kTriggerSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "TRIGGER", 0},
    {8, " [address]", 1},
    {1, "The address must be supplied", 1},
};

inline constexpr HelpLine kFindSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "FIND", 0},
    {8, " a.b.c.d[-e] [PORT port]", 1},
    {5, "Probes the addresses a.b.c.d to a.b.c.e, each for at most 0.5 seconds", 1},
    {5, "PORT - the raw socket's port, or the VXI-11 portmapper's", 1},
    {5, "        (default: the TCP port of the interface settings)", 1},
    {5, "Under GPIB, FIND alone lists the listeners at addresses 1 to 30,", 1},
    {5, "each with its reply to *IDN? (waited for at most 0.5 seconds)", 1},
};

inline constexpr HelpLine kWaitSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "WAIT", 0},
    {8, " [seconds]", 1},
};

inline constexpr HelpLine kZipSyntax[] = {
    {6, "Syntax: ", 0},
    {1, "ZIP", 0},
    {8, " [address]", 1},
    {1, "The address must be supplied", 1},
};

inline constexpr HelpLine kStringAndFileAppendix[] = {
    {1, "If both a string to send and a file are given,", 1},
    {1, "the string will be sent first, followed by a", 1},
    {1, "space character and then the file contents", 1},
};

inline constexpr HelpLine kParallelPollAppendix[] = {
    {3, "Options:", 1},
    {1, "LINE x - Selects line x (0 - 7) as the active line for ", 0},
    {1, "this instrument", 1},
    {1, "HIGH   - Selects high as the sense of the selected line ", 0},
    {1, "when ist is true", 1},
    {1, "LOW    - Selects low as the sense of the selected line ", 0},
    {1, "when ist is true", 1},
    {1, "Both a LINE and a SENSE must be specified", 1},
};

}  // namespace kelvo::help_pages
