// What command files report to a RunObserver (files, checks, lines that
// signalled errors, with their line numbers), and the JUnit XML kelvo-cli makes
// of it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/junit_report.h"
#include "commands/command_context.h"
#include "script/command_cycle.h"
#include "script/run_report.h"
#include "unit/fake_host.h"

namespace kelvo::unit {
namespace {

namespace fs = std::filesystem;
using Events = std::vector<std::string>;

// Every report as one line of text.
class Recorder final : public RunObserver {
public:
    void FileStarted(std::string_view name, int depth) override {
        events.push_back("start " + fs::path(name).filename().string() + " " + std::to_string(depth));
    }
    void FileEnded(std::uint32_t, std::int32_t errors) override {
        events.push_back("end errors=" + std::to_string(errors));
    }
    void Check(const CheckReport& r) override {
        events.push_back(Where(r.place) + (r.isTest ? " TEST " : " IF ") + (r.passed ? "true" : "false") + " [" +
                         r.command + "] expected " + r.expected + " received " + r.received);
    }
    void ErrorLine(const ErrorLineReport& r) override {
        events.push_back(Where(r.place) + " error x" + std::to_string(r.errors) + " [" + r.command + "] " + r.message);
    }
    static std::string Where(const RunPlace& place) {
        return fs::path(place.file).filename().string() + ":" + std::to_string(place.line);
    }
    Events events;
};

class RunReportTest : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        s.Settings.Protocol = BusProtocol::TcpIp;
        static int serial = 0;
        dir_ = fs::path(::testing::TempDir()) / ("krr" + std::to_string(getpid()) + "_" + std::to_string(++serial));
        fs::create_directories(dir_);
        SetResponse("ok");
        SetRunObserver(s, &recorder);
    }
    void TearDown() override {
        SetRunObserver(s, nullptr);
        CoreTest::TearDown();
        fs::remove_all(dir_);
    }
    void SetResponse(const std::string& reply) {
        std::memcpy(s.ResponseBuffer, reply.data(), reply.size());
        s.ResponseBuffer[reply.size()] = '\0';
        s.ResponseLength = static_cast<std::int32_t>(reply.size());
    }
    std::string Write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
        return (dir_ / name).string();
    }
    void Run(const std::string& raw) {
        PreparedLine line;
        ASSERT_TRUE(PrepareLine(raw, line));
        RunCommandLine(s, line);
    }

    Recorder recorder;
    fs::path dir_;
};

TEST_F(RunReportTest, ChecksAndErrorLinesCarryTheirLineNumbers) {
    const std::string file = Write("cmd.txt",
                                   "; checks\n"
                                   "TEST STR OK\r\n"
                                   "TEST STR NO\n"
                                   "IF VAL 10\n"
                                   "TRUE\n"
                                   "TEST STR OK\n"
                                   "FALSE\n"
                                   "NOSUCH\n"
                                   "CONT\n"
                                   "\n"
                                   "TEST WID 2 STR OKAY\n"
                                   "TEST BOGUS 1\n"
                                   "TEST MID 1 STR X\n"
                                   "IF AND 6 VAL 2\n");
    SetResponse("ok");
    Run("RUN " + file);
    const Events expected = {
        "start cmd.txt 0",
        "cmd.txt:2 TEST true [TEST STR OK] expected STR OK received \"OK\"",
        "cmd.txt:3 TEST false [TEST STR NO] expected STR NO received \"OK\"",
        "cmd.txt:4 IF false [IF VAL 10] expected VAL 10: 9.99999999999 to 10.00000000001 received \"OK\": 0",
        "cmd.txt:8 error x1 [NOSUCH] ? Unrecognized command 'NOSUCH'",
        "cmd.txt:11 TEST true [TEST WID 2 STR OKAY] expected STR OKAY (WID 2) received \"OK\"",
        "cmd.txt:12 error x1 [TEST BOGUS 1] ",
        "cmd.txt:13 TEST false [TEST MID 1 STR X] expected STR X (MID 1) received \"K\"",
        "cmd.txt:14 IF false [IF AND 6 VAL 2] expected AND 6 VAL 2: (number AND 6) = 2 received \"OK\": 0 AND 6 = 0",
        "end errors=4",
    };
    ASSERT_EQ(recorder.events.size(), expected.size()) << ::testing::PrintToString(recorder.events);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        // Error messages are the commands' own; only their start is pinned here.
        if (expected[i].find(" error x") != std::string::npos)
            EXPECT_TRUE(recorder.events[i].starts_with(expected[i].substr(0, expected[i].find("] ") + 2)))
                << recorder.events[i];
        else
            EXPECT_EQ(recorder.events[i], expected[i]);
    }
    // Every error counted in the file was reported exactly once.
    EXPECT_EQ(s.ErrorCount, 4 + 1);  // and the summary box counts itself
}

TEST_F(RunReportTest, NestedFilesAreSuitesOfTheirOwnAndErrorsBelongToTheInnermostLine) {
    const std::string inner = Write("inner.txt", "NOSUCH\nTEST STR OK\n");
    const std::string outer = Write("outer.txt", "TEST STR NO\nRUN " + inner + "\nRUN MISSING.TXT\nTEST STR OK\nX\nTEST STR NO\n");
    Run("RUN " + outer);
    const Events expected = {
        "start outer.txt 0",
        "outer.txt:1 TEST false [TEST STR NO] expected STR NO received \"OK\"",
        "start inner.txt 1",
        "inner.txt:1 error x1 [NOSUCH] ? Unrecognized command 'NOSUCH'",
        "inner.txt:2 TEST true [TEST STR OK] expected STR OK received \"OK\"",
        "end errors=1",
        "outer.txt:3 error x1 [RUN MISSING.TXT] ? Can't open command file 'MISSING.TXT'",
        "outer.txt:4 TEST true [TEST STR OK] expected STR OK received \"OK\"",
        "end errors=3",
    };
    EXPECT_EQ(recorder.events, expected);
}

TEST_F(RunReportTest, LongLinesCountOnceAndNothingIsReportedWithoutAFileOrAnObserver) {
    const std::string file =
        Write("long.txt", ";" + std::string(400, 'a') + "\nTEST STR NO\n");
    Run("RUN " + file);
    ASSERT_GE(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[recorder.events.size() - 2].substr(0, 14), "long.txt:2 TES");

    recorder.events.clear();
    Run("TEST STR NO");  // typed: no file, no report
    EXPECT_TRUE(recorder.events.empty());
    SetRunObserver(s, nullptr);
    Run("RUN " + file);
    EXPECT_TRUE(recorder.events.empty());
}

TEST(JUnitXml, SuitesCasesAndEscapes) {
    cli::JUnitReport report("2026-12-06T01:02:03");
    report.FileStarted("a&b.txt", 0);
    CheckReport pass{{"a&b.txt", 2}, "TEST STR OK", true, true, "STR OK", "\"OK\"", 5};
    report.Check(pass);
    CheckReport fail{{"a&b.txt", 3}, "TEST STR <NO>", true, false, "STR <NO>", "\"O\x01\xE9\\\"", 1500};
    report.Check(fail);
    CheckReport branch{{"a&b.txt", 4}, "IF VAL 1", false, false, "VAL 1: 1 to 1", "\"OK\": 0", 0};
    report.Check(branch);
    report.FileStarted("in.txt", 1);
    ErrorLineReport error{{"in.txt", 1}, "NOSUCH", 2, "? Unrecognized command 'NOSUCH'", "? Undefined\nsyntax\n", 7};
    report.ErrorLine(error);
    report.FileEnded(9, 2);
    report.FileEnded(2000, 4);
    EXPECT_EQ(report.Failures(), 2);
    EXPECT_EQ(report.Xml(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<testsuites name=\"kelvo-cli\" tests=\"4\" failures=\"1\" errors=\"1\" time=\"2.000\">\n"
              "  <testsuite name=\"a&amp;b.txt\" id=\"0\" tests=\"3\" failures=\"1\" errors=\"0\" skipped=\"0\" "
              "time=\"2.000\" timestamp=\"2026-12-06T01:02:03\" file=\"a&amp;b.txt\">\n"
              "    <testcase name=\"line 2: TEST STR OK\" classname=\"a&amp;b.txt\" file=\"a&amp;b.txt\" line=\"2\" "
              "time=\"0.005\">\n"
              "      <system-out>TEST STR OK: true (expected STR OK, received \"OK\")\n</system-out>\n"
              "    </testcase>\n"
              "    <testcase name=\"line 3: TEST STR &lt;NO&gt;\" classname=\"a&amp;b.txt\" file=\"a&amp;b.txt\" "
              "line=\"3\" time=\"1.500\">\n"
              "      <failure message=\"expected STR &lt;NO&gt;, received &quot;O\\x01\\xE9\\\\&quot;\" "
              "type=\"TEST\">a&amp;b.txt:3: TEST STR &lt;NO&gt;\nexpected: STR &lt;NO&gt;\nreceived: "
              "\"O\\x01\\xE9\\\\\"\n</failure>\n"
              "    </testcase>\n"
              "    <testcase name=\"line 4: IF VAL 1\" classname=\"a&amp;b.txt\" file=\"a&amp;b.txt\" line=\"4\" "
              "time=\"0.000\">\n"
              "      <system-out>IF VAL 1: false (expected VAL 1: 1 to 1, received \"OK\": 0)\n</system-out>\n"
              "    </testcase>\n"
              "  </testsuite>\n"
              "  <testsuite name=\"in.txt\" id=\"1\" tests=\"1\" failures=\"0\" errors=\"1\" skipped=\"0\" "
              "time=\"0.009\" timestamp=\"2026-12-06T01:02:03\" file=\"in.txt\">\n"
              "    <testcase name=\"line 1: NOSUCH\" classname=\"in.txt\" file=\"in.txt\" line=\"1\" time=\"0.007\">\n"
              "      <error message=\"? Unrecognized command 'NOSUCH' (2 errors)\" type=\"error\">in.txt:1: NOSUCH\n"
              "? Undefined\nsyntax\n</error>\n"
              "    </testcase>\n"
              "  </testsuite>\n"
              "</testsuites>\n");
}

}  // namespace
}  // namespace kelvo::unit
