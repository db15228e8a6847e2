// Preparing a command line: case, blanks, aliases and the case-kept twin.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "interp/line_prep.h"
#include "script/command_language.h"

namespace kelvo {
namespace {

std::string Normalize(std::string_view source) {
    std::string out(source.size() + 1, '\x01');
    const std::size_t n = NormalizeLine(source, out.data());
    EXPECT_EQ(out[n], '\0') << source;
    out.resize(n);
    return out;
}

// kelvo-cli's edit row pins the plainer cases: case kept after ';', a NUL, DEL.
TEST(NormalizeLine, CaseAndBlanks) {
    const std::pair<std::string_view, std::string> cases[] = {
        {"ENTER   5    ;  A    B", "ENTER 5 ; A B"},       // runs collapse, also after ';'
        {"a;b;C", "A;b;C"},                                // only the first ';' counts
        {" ; x", "; x"},
        {"abc   ", "ABC "},                                // one trailing blank survives
        {"a\tb\r\nc\x01" "d", "A B C D"},                  // controls are blanks
        {{"x\x80y\xff" "z\xe9", 6}, "X Y Z "},             // so is every byte from 128 up
        {"`az{@AZ[", "`AZ{@AZ["},                          // only a-z change
        {"", ""},
        {" \t \t ", ""},
        {{"abcdef", 3}, "ABC"},                            // only the given length is read
    };
    for (const auto& [source, expected] : cases) EXPECT_EQ(Normalize(source), expected) << source;

    char line[] = "  \te   5 ;Mixed   Case  ";  // in place
    EXPECT_EQ(NormalizeLine(line, line), 16u);
    EXPECT_STREQ(line, "E 5 ;Mixed Case ");
}

TEST(ExpandAlias, EverySingleLetterAliasBeforeBlankQuestionMarkOrEnd) {
    struct Case {
        std::string line;
        std::string expanded;
        std::size_t capacity;
        bool fits = true;
    };
    std::vector<Case> cases = {
        {"R 1234567", "RECEIVE 1234567", 16},
        {"R 12345678", "R 12345678", 16, false},  // "RECEIVE 12345678" does not fit: the line is left alone
    };
    for (const char* text : {"E;X", "EX", "ENTER 5", "A 5", "X", "?", "", "e 5", "1 2"})
        cases.push_back({text, text, kPreparedLineSize});
    for (const auto& [letter, word] : {std::pair{'E', "ENTER"}, {'G', "GET"}, {'O', "OUTPUT"}, {'R', "RECEIVE"},
                                       {'S', "SEND"}, {'T', "TRIGGER"}, {'Z', "ZIP"}}) {
        for (const auto& [rest, after] : {std::pair{" 5;x", " 5;x"}, {"?", " ?"}, {"", " "}, {" ?", " ?"}})
            cases.push_back({letter + std::string(rest), word + std::string(after), kPreparedLineSize});
    }
    for (const Case& c : cases) {
        std::vector<char> line(c.capacity, '\0');
        c.line.copy(line.data(), c.line.size());
        EXPECT_EQ(ExpandAlias(line, kCommandLanguage), c.fits) << c.line;
        EXPECT_STREQ(line.data(), c.expanded.c_str()) << c.line;
    }
}

TEST(PrepareLine, TwinKeepsTheTypedCasePositionForPosition) {
    struct Case {
        const char* raw;
        const char* text;
        const char* typed;
    };
    const Case cases[] = {
        {"e 5 fo MyFile.txt;Abc", "ENTER 5 FO MYFILE.TXT;Abc", "ENTER 5 fo MyFile.txt;Abc"},
        {"  run\tcmd.TXT  fr Out.log", "RUN CMD.TXT FR OUT.LOG", "run cmd.TXT fr Out.log"},
        {"o?", "OUTPUT ?", "OUTPUT ?"},
    };
    for (const Case& c : cases) {
        PreparedLine prepared;
        ASSERT_TRUE(PrepareLine(c.raw, prepared));
        EXPECT_STREQ(prepared.text, c.text);
        EXPECT_STREQ(prepared.typed, c.typed);
    }
}

TEST(PrepareLine, TakesAt255CharactersAndRefuses256) {
    PreparedLine prepared;
    const std::string longest = "e " + std::string(253, 'x');
    ASSERT_TRUE(PrepareLine(longest, prepared));
    EXPECT_EQ(std::string(prepared.text), "ENTER " + std::string(253, 'X'));
    EXPECT_EQ(std::string(prepared.typed), "ENTER " + std::string(253, 'x'));

    PreparedLine untouched;
    EXPECT_FALSE(PrepareLine(std::string(256, 'a'), untouched));
    EXPECT_STREQ(untouched.text, "");
}

}  // namespace
}  // namespace kelvo
