// kelvo-cli's JUnit report: the files, checks and failing lines of the command
// files it ran, in the XML format CI servers read (Jenkins, GitLab).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/run_report.h"

namespace kelvo::cli {

class JUnitReport final : public RunObserver {
public:
    // `timestamp` ("2026-12-06T01:02:03") is given to every suite.
    explicit JUnitReport(std::string timestamp) : timestamp_(std::move(timestamp)) {}

    void FileStarted(std::string_view name, int depth) override;
    void FileEnded(std::uint32_t ms, std::int32_t errors) override;
    void Check(const CheckReport& report) override;
    void ErrorLine(const ErrorLineReport& report) override;

    // The whole report. Suites still open (an interrupted run) are closed with
    // the time that has been reported so far.
    std::string Xml() const;

    int Failures() const;

private:
    struct Case {
        std::string name;
        std::string file;
        std::int32_t line;
        std::uint32_t ms;
        enum Kind { Passed, Failure, Error } kind;
        std::string type;     // "TEST", "IF" or "error"
        std::string message;  // the failure's one-line message
        std::string detail;   // the failure's text, or a passed IF's outcome
    };
    struct Suite {
        std::string name;
        int depth = 0;
        std::uint32_t ms = 0;
        std::uint32_t caseMs = 0;  // the time of its cases, for a suite never ended
        bool ended = false;
        std::vector<Case> cases;
    };
    Suite* Current();

    std::string timestamp_;
    std::vector<Suite> suites_;  // in the order the files started
    std::vector<std::size_t> open_;  // indexes of the suites running, innermost last
};

// Text for XML: escapes markup, and writes bytes XML cannot hold (controls,
// bytes from 0x7F up) as "\xHH" and a backslash as "\\", as the transcript does.
// `attribute` also escapes quotes and line ends.
std::string XmlText(std::string_view text, bool attribute);

}  // namespace kelvo::cli
