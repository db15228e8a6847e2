// Python-style format fields, both ways: getters format, setters parse.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "model/bench.h"
#include "model/format.h"

namespace kelvo::sim {
namespace {

std::string Fmt(const char* text, const Value& v) { return FieldTemplate(text).Format(v); }

TEST(FormatFields, FormatLikePython) {
    EXPECT_EQ(Fmt("{:+.4E}", Value::Float(1234.5)), "+1.2345E+03");
    EXPECT_EQ(Fmt("{:+.4E}", Value::Float(-0.00012)), "-1.2000E-04");
    EXPECT_EQ(Fmt("{:.2f}", Value::Float(3.14159)), "3.14");
    EXPECT_EQ(Fmt("{:f}", Value::Int(2)), "2.000000");
    EXPECT_EQ(Fmt("{:e}", Value::Float(0.5)), "5.000000e-01");
    EXPECT_EQ(Fmt("{:g}", Value::Float(1e-5)), "1e-05");
    EXPECT_EQ(Fmt("{:g}", Value::Float(100000.0)), "100000");
    EXPECT_EQ(Fmt("{:G}", Value::Float(1e7)), "1E+07");
    EXPECT_EQ(Fmt("{:d}", Value::Int(42)), "42");
    EXPECT_EQ(Fmt("{:d}", Value::Float(7.9)), "7");
    EXPECT_EQ(Fmt("{:5d}|{:<5d}|{:^5d}", Value::Int(42)), "   42|42   | 42  ");
    EXPECT_EQ(Fmt("{:05.1f}", Value::Float(-2.5)), "-02.5");
    EXPECT_EQ(Fmt("{: d}", Value::Int(5)), " 5");
    EXPECT_EQ(Fmt("{:+d}", Value::Int(0)), "+0");
    EXPECT_EQ(Fmt("{:*>6s}", Value::Text("ab")), "****ab");
    EXPECT_EQ(Fmt("{:4}|{:.1s}", Value::Text("ab")), "ab  |a");
    // No type: what Python's str() shows.
    EXPECT_EQ(Fmt("{}", Value::Float(100.0)), "100.0");
    EXPECT_EQ(Fmt("{}", Value::Float(1e-5)), "1e-05");
    EXPECT_EQ(Fmt("{}", Value::Float(1e16)), "1e+16");
    EXPECT_EQ(Fmt("{0}", Value::Float(0.1)), "0.1");
    EXPECT_EQ(Fmt("{}", Value::Int(-3)), "-3");
    EXPECT_EQ(Fmt("FREQ {:.1f} HZ {{x}}", Value::Float(10)), "FREQ 10.0 HZ {x}");
    // A width or precision is held to what a reply can use.
    EXPECT_EQ(Fmt("{:99999999999d}", Value::Int(1)).size(), 1000u);
    EXPECT_EQ(Fmt("{:.99999999999f}", Value::Int(1)).size(), 102u);
}

TEST(FormatFields, ParseValuesBackOutOfMessages) {
    const struct {
        const char *text, *message;
        Value expected;
    } rows[] = {
        {"VOLT {:+.4E}", "volt +1.2345E+03", Value::Float(1234.5)},
        {"!FREQ {:.2f}", "!FREQ 10.3", Value::Float(10.3)},  // the precision formats; parsing takes any number
        {"OUT {:d}", "out -3", Value::Int(-3)},
        {"INST {:s}", "inst P6v", Value::Text("P6v")},  // text keeps its case
        {"MODE {} NOW", "MODE fast now", Value::Text("fast")},
        {"SENS:FREQ {:f} MHZ", "SENS:FREQ 2.5e1 MHZ", Value::Float(25.0)},
    };
    for (const auto& row : rows) {
        const auto v = FieldTemplate(row.text).Match(row.message);
        ASSERT_TRUE(v) << row.message;
        EXPECT_EQ(v->kind, row.expected.kind) << row.message;
        EXPECT_EQ(v->ToString(), row.expected.ToString()) << row.message;
    }
    for (const auto& [text, message] : std::initializer_list<std::pair<const char*, const char*>>{
             {"OUT {:d}", "OUT 1.5"}, {"VOLT {:f}", "VOLT abc"}, {"VOLT {:f}", "VOLT"}, {"VOLT {:f}", "CURR 1"},
             {"INST {:s}", "INST "}})
        EXPECT_FALSE(FieldTemplate(text).Match(message)) << message;
}

TEST(FormatFields, RejectMalformedTemplates) {
    for (const char* bad : {"{:q}", "{:.f}", "{", "x}", "{:5.2fx}", "{!r}"})
        EXPECT_THROW(FieldTemplate{bad}, std::invalid_argument) << bad;
    EXPECT_EQ(FieldTemplate("{:d} {:f}").FieldCount(), 2u);
}

// {RANDOM(min, max, n):spec}: n numbers in [min, max], each formatted, joined by ','.
TEST(FormatFields, RandomFieldsDrawNumbersInTheirRange) {
    const std::regex two(R"(-?\d\.\d{2})");
    for (int i = 0; i < 20; ++i) {
        const std::string one = FieldTemplate("V {RANDOM(-5, 5, 1):.2f}").Format(Value::Int(0));
        ASSERT_EQ(one.substr(0, 2), "V ");
        EXPECT_TRUE(std::regex_match(one.substr(2), two)) << one;
        EXPECT_LE(std::abs(std::stod(one.substr(2))), 5.0);
    }
    const std::string many = ReplyForm("{RANDOM(0, 4.55, 16):.5f}").Bytes();
    EXPECT_TRUE(std::regex_match(many, std::regex(R"(\d\.\d{5}(,\d\.\d{5}){15})"))) << many;
    EXPECT_EQ(ReplyForm("{RANDOM(2, 2, 3):.1f} V").Bytes(), "2.0,2.0,2.0 V");
    EXPECT_EQ(ReplyForm("hello {:}").Bytes(), "hello {:}");  // other fields stay text in a dialogue
    EXPECT_EQ(FieldTemplate("{RANDOM(1, 2, 1)}").FieldCount(), 0u);
    EXPECT_NO_THROW(ReplyForm("{RANDOM(1, 2, 100000)}"));
    for (const char* bad : {"{RANDOM(1, 2, 100001)}", "{RANDOM(1, 2)}", "{RANDOM(a, 2, 1)}", "{RANDOM(1, 2, 0)}", "{RANDOM(3, 2, 1)}",
                            "{RANDOM(1, 2, 1)x}", "{RANDOM(1, 2, 1):q}"})
        EXPECT_THROW(ReplyForm{bad}, std::invalid_argument) << bad;
}

}  // namespace
}  // namespace kelvo::sim
