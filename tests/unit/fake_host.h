// A host for the core's unit tests: it records beeps and drawing requests, and its
// clock moves only when the test moves it (or by `step` at every read).
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bus/interface_settings.h"
#include "cli/cli_format.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "script/session.h"
#include "interp/command_ids.h"
#include "interp/parsed_command.h"
#include "script/command_files.h"
#include "script/command_language.h"
#include "script/response_check.h"
#include "script/utilities.h"

namespace kelvo::unit {

using Beeps = std::vector<std::pair<unsigned, unsigned>>;

inline const std::pair<unsigned, unsigned> kErrorBeep{1661, 157};
inline const std::pair<unsigned, unsigned> kCompletionBeep{831, 157};
inline const std::pair<unsigned, unsigned> kWarningBeep{1661, 100};

class FakeHost : public Host {
public:
    struct Draw {
        int line, x;
        std::string text;
        int attribute;
    };
    struct Span {
        int line, column, count;
        bool operator==(const Span&) const = default;
    };

    void Beep(unsigned hz, unsigned ms) override { beeps.emplace_back(hz, ms); }
    void PumpMessages() override {
        ++pumps;
        if (onPump) onPump();
    }
    std::uint32_t TickCount() override {
        const std::uint32_t t = now;
        now += step;
        return t;
    }
    void Idle() override { ++now; }

    // The wall clock goes with the tick clock: `epoch` seconds at tick 0. Local
    // time is UTC, so that texts do not depend on the machine's time zone.
    std::int64_t TimeOfDay() override { return epoch + now / 1000; }
    bool LocalTime(std::int64_t seconds, std::tm& out) override {
        const std::time_t t = static_cast<std::time_t>(seconds);
        return gmtime_r(&t, &out) != nullptr;
    }

    // A key arrives at every wait.
    void WaitForEvent(ProgramState& state) override { state.KeyWaitActive = false; }

    // Programs start and run for `programPolls` polls of ProgramRunning.
    int StartProgram(const std::vector<std::string>&, std::int64_t& process) override {
        process = 4242;
        pollsLeft = programPolls;
        return 0;
    }
    bool ProgramRunning(std::int64_t process) override {
        EXPECT_EQ(process, 4242);
        ++programPollCount;
        if (pollsLeft == 0) return false;
        --pollsLeft;
        return true;
    }
    void DrawPiece(int line, int x, std::string_view text, int attribute) override {
        draws.push_back({line, x, std::string(text), attribute});
    }
    void BlankLineSpan(int line, int column, int count) override { blanks.push_back({line, column, count}); }
    void ClearToLineEnd(int line, int column) override { clearsToEnd.push_back({line, column, 0}); }
    void ClearOutputArea() override { ++outputAreaClears; }

    // Forgets what was recorded; the clock stays.
    void Forget() {
        beeps.clear();
        draws.clear();
        blanks.clear();
        clearsToEnd.clear();
        outputAreaClears = pumps = 0;
    }

    Beeps beeps;
    std::vector<Draw> draws;
    std::vector<Span> blanks;
    std::vector<Span> clearsToEnd;  // count unused
    int outputAreaClears = 0;
    int pumps = 0;
    std::uint32_t now = 1000;
    std::uint32_t step = 0;
    std::function<void()> onPump;
    std::int64_t epoch = 1796394618;  // Fri Dec  4 14:30:18 2026 UTC at tick 0
    int programPolls = 0;
    int pollsLeft = 0;
    int programPollCount = 0;
};

// The display lines of a console as kelvo-cli writes them: every completed
// line, then the current one if it holds text.
inline std::vector<std::string> Display(const Console& console, bool withAttributes = false) {
    std::vector<std::string> lines;
    if (!console.HasStore()) return lines;
    for (int i = 0; i < console.CurrentLine(); ++i)
        lines.push_back(cli::FormatDisplayLine(console.Line(i), withAttributes));
    if (console.Line(console.CurrentLine()).length > 0)
        lines.push_back(cli::FormatDisplayLine(console.Line(console.CurrentLine()), withAttributes));
    return lines;
}

// Every test starts with a fresh session of its own on the fake host, at the
// prompt, with an 80-column console.
class CoreTest : public ::testing::Test {
protected:
    CoreTest() {
        s.CurrentCommandId = kPrompt;
        s.ActiveCommands = &kCommandLanguage;
        console.SetLayout(8, 16, 640, 480);  // 80 columns
        ClearDisplay(s);
        host.Forget();
    }

    std::vector<std::string> Display(bool withAttributes = false) const {
        return unit::Display(console, withAttributes);
    }

    FakeHost host;
    Console console{host};
    Session s{console, host};
};

}  // namespace kelvo::unit
