// Python-style format fields, both ways: getters format, setters parse. The
// rows are in data/format_cases.txt.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "model/bench.h"
#include "model/format.h"

namespace kelvo::sim {
namespace {

// "int 5", "float 1.5", "str ab"; "-" for none.
std::string Shown(const std::optional<Value>& v) {
    if (!v) return "-";
    return (v->kind == Value::Kind::Int ? "int " : v->kind == Value::Kind::Float ? "float " : "str ") + v->ToString();
}
Value Read(const std::string& text) {
    const std::string rest = text.substr(text.find(' ') + 1);
    return text[0] == 'i' ? Value::Int(std::stoll(rest)) : text[0] == 'f' ? Value::Float(std::stod(rest)) : Value::Text(rest);
}

TEST(FormatFields, EachRowFormatsMatchesOrIsRefusedAsWritten) {
    std::ifstream in(KELVO_SIM_TEST_DATA "/format_cases.txt");
    ASSERT_TRUE(in);
    std::string section;
    int rows = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("=== ", 0) == 0) section = line.substr(4);
        if (section.empty() || line.rfind("=== ", 0) == 0) continue;
        std::vector<std::string> part;
        std::istringstream fields(line);
        for (std::string p; std::getline(fields, p, '\t');) part.push_back(p);
        part.resize(3);
        SCOPED_TRACE(line);
        ++rows;
        try {
            const FieldTemplate t(part[0]);
            if (section == "format") EXPECT_EQ(t.Format(Read(part[1])), part[2]);
            else if (section == "match") EXPECT_EQ(Shown(t.Match(part[1])), part[2]);
            else ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(section + " " + e.what(), "refused " + part[1]);
        }
    }
    EXPECT_GT(rows, 30);
    EXPECT_EQ(FieldTemplate("{:d} {:f}").FieldCount(), 2u);
    // A width or precision is held to what a reply can use.
    EXPECT_EQ(FieldTemplate("{:99999999999d}").Format(Value::Int(1)).size(), 1000u);
    EXPECT_EQ(FieldTemplate("{:.99999999999f}").Format(Value::Int(1)).size(), 102u);
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
    EXPECT_EQ(ReplyForm("{RANDOM( 2 , 2 , 3 ):.1f} V").Bytes(), "2.0,2.0,2.0 V");
    EXPECT_EQ(ReplyForm("hello {:}").Bytes(), "hello {:}");  // other fields stay text in a dialogue
    EXPECT_EQ(FieldTemplate("{RANDOM(1, 2, 1)}").FieldCount(), 0u);
    EXPECT_NO_THROW(ReplyForm("{RANDOM(1, 2, 100000)}"));
    for (const char* bad : {"{RANDOM(1, 2, 100001)}", "{RANDOM(1, 2)}", "{RANDOM(a, 2, 1)}", "{RANDOM(1, 2, 0)}", "{RANDOM(3, 2, 1)}",
                            "{RANDOM(1, 2, 1)x}", "{RANDOM(1, 2, 1):q}"})
        EXPECT_THROW(ReplyForm{bad}, std::invalid_argument) << bad;
}

}  // namespace
}  // namespace kelvo::sim
