// The JUnit XML kelvo-cli makes of what command files report: its sums, times
// and escapes (what a run reports is pinned in the batch transcripts).
#include <gtest/gtest.h>

#include <string>

#include "cli/junit_report.h"
#include "script/run_report.h"

namespace kelvo::unit {
namespace {

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
