// Python-style format fields, both ways: getters format, setters parse.
#include <gtest/gtest.h>

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
}

TEST(FormatFields, ParseValuesBackOutOfMessages) {
    auto match = [](const char* text, const char* message) { return FieldTemplate(text).Match(message); };
    auto v = match("VOLT {:+.4E}", "volt +1.2345E+03");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->kind, Value::Kind::Float);
    EXPECT_DOUBLE_EQ(v->f, 1234.5);
    v = match("!FREQ {:.2f}", "!FREQ 10.3");  // the precision formats; parsing takes any number
    ASSERT_TRUE(v);
    EXPECT_DOUBLE_EQ(v->f, 10.3);
    v = match("OUT {:d}", "out -3");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->kind, Value::Kind::Int);
    EXPECT_EQ(v->i, -3);
    v = match("INST {:s}", "inst P6v");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->s, "P6v");  // text keeps its case
    v = match("MODE {} NOW", "MODE fast now");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->s, "fast");
    v = match("SENS:FREQ {:f} MHZ", "SENS:FREQ 2.5e1 MHZ");
    ASSERT_TRUE(v);
    EXPECT_DOUBLE_EQ(v->f, 25.0);

    EXPECT_FALSE(match("OUT {:d}", "OUT 1.5"));
    EXPECT_FALSE(match("VOLT {:f}", "VOLT abc"));
    EXPECT_FALSE(match("VOLT {:f}", "VOLT"));
    EXPECT_FALSE(match("VOLT {:f}", "CURR 1"));
    EXPECT_FALSE(match("INST {:s}", "INST "));
}

TEST(FormatFields, RejectMalformedTemplates) {
    for (const char* bad : {"{:q}", "{:.f}", "{", "x}", "{:5.2fx}", "{!r}"})
        EXPECT_THROW(FieldTemplate{bad}, std::invalid_argument) << bad;
    EXPECT_EQ(FieldTemplate("{:d} {:f}").FieldCount(), 2u);
}

}  // namespace
}  // namespace kelvo::sim
