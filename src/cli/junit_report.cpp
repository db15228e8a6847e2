#include "cli/junit_report.h"

#include <cstdio>

namespace kelvo::cli {
namespace {

std::string Seconds(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%03u", ms / 1000, ms % 1000);
    return text;
}

std::string CaseName(std::int32_t line, const std::string& command) {
    return "line " + std::to_string(line) + ": " + command;
}

}  // namespace

std::string XmlText(std::string_view text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '&': out += "&amp;"; continue;
            case '<': out += "&lt;"; continue;
            case '>': out += "&gt;"; continue;
            case '\\': out += "\\\\"; continue;
            default: break;
        }
        if (attribute && c == '"') {
            out += "&quot;";
        } else if (c == '\n') {
            out += attribute ? "&#10;" : "\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

JUnitReport::Suite* JUnitReport::Current() { return open_.empty() ? nullptr : &suites_[open_.back()]; }

void JUnitReport::FileStarted(std::string_view name, int depth) {
    Suite suite;
    suite.name = name;
    suite.depth = depth;
    suites_.push_back(std::move(suite));
    open_.push_back(suites_.size() - 1);
}

void JUnitReport::FileEnded(std::uint32_t ms, std::int32_t) {
    if (Suite* suite = Current()) {
        suite->ms = ms;
        suite->ended = true;
        open_.pop_back();
    }
}

void JUnitReport::Check(const CheckReport& report) {
    Suite* suite = Current();
    if (suite == nullptr) return;
    Case c{CaseName(report.place.line, report.command), report.place.file, report.place.line, report.ms,
           Case::Passed, report.isTest ? "TEST" : "IF", "", ""};
    const std::string facts = "expected " + report.expected + ", received " + report.received;
    if (report.isTest && !report.passed) {
        c.kind = Case::Failure;
        c.message = facts;
        c.detail = report.place.file + ":" + std::to_string(report.place.line) + ": " + report.command +
                   "\nexpected: " + report.expected + "\nreceived: " + report.received + "\n";
    } else {
        // A false IF is a branch, not an error: the case passes and says which way.
        c.detail = report.command + ": " + (report.passed ? "true" : "false") + " (" + facts + ")\n";
    }
    suite->caseMs += report.ms;
    suite->cases.push_back(std::move(c));
}

void JUnitReport::ErrorLine(const ErrorLineReport& report) {
    Suite* suite = Current();
    if (suite == nullptr) return;
    std::string message = report.message;
    if (report.errors > 1) message += " (" + std::to_string(report.errors) + " errors)";
    Case c{CaseName(report.place.line, report.command), report.place.file, report.place.line, report.ms,
           Case::Error, "error", message,
           report.place.file + ":" + std::to_string(report.place.line) + ": " + report.command + "\n" +
               report.output};
    suite->caseMs += report.ms;
    suite->cases.push_back(std::move(c));
}

int JUnitReport::Failures() const {
    int n = 0;
    for (const Suite& s : suites_)
        for (const Case& c : s.cases) n += c.kind != Case::Passed;
    return n;
}

std::string JUnitReport::Xml() const {
    std::size_t tests = 0, failures = 0, errors = 0;
    std::uint32_t ms = 0;
    for (const Suite& s : suites_) {
        tests += s.cases.size();
        for (const Case& c : s.cases) {
            failures += c.kind == Case::Failure;
            errors += c.kind == Case::Error;
        }
        if (s.depth == 0) ms += s.ended ? s.ms : s.caseMs;
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<testsuites name=\"kelvo-cli\" tests=\"" + std::to_string(tests) + "\" failures=\"" +
           std::to_string(failures) + "\" errors=\"" + std::to_string(errors) + "\" time=\"" + Seconds(ms) + "\">\n";
    int id = 0;
    for (const Suite& s : suites_) {
        std::size_t sf = 0, se = 0;
        for (const Case& c : s.cases) {
            sf += c.kind == Case::Failure;
            se += c.kind == Case::Error;
        }
        out += "  <testsuite name=\"" + XmlText(s.name, true) + "\" id=\"" + std::to_string(id++) + "\" tests=\"" +
               std::to_string(s.cases.size()) + "\" failures=\"" + std::to_string(sf) + "\" errors=\"" +
               std::to_string(se) + "\" skipped=\"0\" time=\"" + Seconds(s.ended ? s.ms : s.caseMs) +
               "\" timestamp=\"" + XmlText(timestamp_, true) + "\" file=\"" + XmlText(s.name, true) + "\">\n";
        for (const Case& c : s.cases) {
            out += "    <testcase name=\"" + XmlText(c.name, true) + "\" classname=\"" + XmlText(c.file, true) +
                   "\" file=\"" + XmlText(c.file, true) + "\" line=\"" + std::to_string(c.line) + "\" time=\"" +
                   Seconds(c.ms) + "\"";
            if (c.kind == Case::Passed && c.detail.empty()) {
                out += "/>\n";
                continue;
            }
            out += ">\n";
            if (c.kind == Case::Passed) {
                out += "      <system-out>" + XmlText(c.detail, false) + "</system-out>\n";
            } else {
                const char* element = c.kind == Case::Failure ? "failure" : "error";
                out += std::string("      <") + element + " message=\"" + XmlText(c.message, true) + "\" type=\"" +
                       c.type + "\">" + XmlText(c.detail, false) + "</" + element + ">\n";
            }
            out += "    </testcase>\n";
        }
        out += "  </testsuite>\n";
    }
    out += "</testsuites>\n";
    return out;
}

}  // namespace kelvo::cli
