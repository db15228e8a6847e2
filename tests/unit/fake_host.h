// A host for the core's unit tests: it records beeps and drawing requests, and its
// clock moves only when the test moves it (or by `step` at every read).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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
#include "interp/command_ids.h"
#include "interp/parsed_command.h"

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
    void DrawPiece(int line, int x, std::string_view text, int attribute) override {
        draws.push_back({line, x, std::string(text), attribute});
    }
    void BlankLineSpan(int line, int column, int count) override { blanks.push_back({line, column, count}); }
    void ClearToLineEnd(int line, int column) override { clearsToEnd.push_back({line, column, 0}); }
    void ClearOutputArea() override { ++outputAreaClears; }
    void StoreChanged() override { ++storeChanges; }

    // Forgets what was recorded; the clock stays.
    void Forget() {
        beeps.clear();
        draws.clear();
        blanks.clear();
        clearsToEnd.clear();
        outputAreaClears = storeChanges = pumps = 0;
    }

    Beeps beeps;
    std::vector<Draw> draws;
    std::vector<Span> blanks;
    std::vector<Span> clearsToEnd;  // count unused
    int outputAreaClears = 0;
    int storeChanges = 0;
    int pumps = 0;
    std::uint32_t now = 1000;
    std::uint32_t step = 0;
    std::function<void()> onPump;
};

// The display lines of the one console as kelvo-cli writes them: every completed
// line, then the current one if it holds text.
inline std::vector<std::string> Display(bool withAttributes = false) {
    std::vector<std::string> lines;
    const Console& console = TheConsole();
    if (!console.HasStore()) return lines;
    for (int i = 0; i < console.CurrentLine(); ++i)
        lines.push_back(cli::FormatDisplayLine(console.Line(i), withAttributes));
    if (console.Line(console.CurrentLine()).length > 0)
        lines.push_back(cli::FormatDisplayLine(console.Line(console.CurrentLine()), withAttributes));
    return lines;
}

// Every test starts from the program's start state with the fake host installed.
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProgramState();
        ResetInterfaceSettings();
        CurrentCommandId = kPrompt;
        Parsed = ParsedCommand{};
        previousHost_ = SetHost(&host);
        TheConsole().SetAllocationPolicy(nullptr);
        TheConsole().SetLayout(8, 16, 640, 480);  // 80 columns
        ClearDisplay();
        host.Forget();
    }
    void TearDown() override {
        TheConsole().SetAllocationPolicy(nullptr);
        ClearDisplay();
        SetHost(previousHost_);
        ResetProgramState();
        ResetInterfaceSettings();
    }

    FakeHost host;
    Host* previousHost_ = nullptr;
};

}  // namespace kelvo::unit
