// Preparing a command line: case, blanks, aliases and the case-kept twin.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "interp/line_prep.h"
#include "script/command_language.h"

namespace kelvo {
namespace {

std::string Normalize(const std::string& source) {
    std::string out(source.size() + 1, '\x01');
    const std::size_t n = NormalizeLine(source.data(), source.size(), out.data());
    EXPECT_EQ(out[n], '\0') << source;
    out.resize(n);
    return out;
}

// kelvo-cli's edit row pins the plainer cases: case kept after ';', a NUL, DEL.
TEST(NormalizeLine, CaseAndBlanks) {
    const std::pair<std::string, std::string> cases[] = {
        {"ENTER   5    ;  A    B", "ENTER 5 ; A B"},       // runs collapse, also after ';'
        {"a;b;C", "A;b;C"},                                // only the first ';' counts
        {" ; x", "; x"},
        {"abc   ", "ABC "},                                // one trailing blank survives
        {"a\tb\r\nc\x01" "d", "A B C D"},                  // controls are blanks
        {std::string("x\x80y\xff" "z\xe9", 6), "X Y Z "},  // so is every byte from 128 up
        {"`az{@AZ[", "`AZ{@AZ["},                          // only a-z change
        {"", ""},
        {" \t \t ", ""},
    };
    for (const auto& [source, expected] : cases) EXPECT_EQ(Normalize(source), expected) << source;
}

TEST(NormalizeLine, WorksInPlaceAndReadsOnlyTheGivenLength) {
    char line[] = "  \te   5 ;Mixed   Case  ";
    EXPECT_EQ(NormalizeLine(line, std::strlen(line), line), 16u);
    EXPECT_STREQ(line, "E 5 ;Mixed Case ");

    char out[8];
    NormalizeLine("abcdef", 3, out);
    EXPECT_STREQ(out, "ABC");
    NormalizeLine("abcdef", 0, out);
    EXPECT_STREQ(out, "");
}

TEST(ExpandAlias, EverySingleLetterAliasBeforeBlankQuestionMarkOrEnd) {
    const std::pair<char, std::string> aliases[] = {{'E', "ENTER"},   {'G', "GET"},  {'O', "OUTPUT"},
                                                    {'R', "RECEIVE"}, {'S', "SEND"}, {'T', "TRIGGER"},
                                                    {'Z', "ZIP"}};
    for (const auto& [letter, word] : aliases) {
        const std::pair<std::string, std::string> cases[] = {
            {" 5;x", " 5;x"}, {"?", " ?"}, {"", " "}, {" ?", " ?"}};
        for (const auto& [rest, expected] : cases) {
            char line[kPreparedLineSize] = {};
            const std::string in = letter + rest;
            std::strcpy(line, in.c_str());
            EXPECT_TRUE(ExpandAlias(line, sizeof line, kCommandLanguage)) << in;
            EXPECT_EQ(std::string(line), word + expected) << in;
        }
    }
}

TEST(ExpandAlias, LeavesOtherLinesAlone) {
    for (const char* text : {"E;X", "EX", "ENTER 5", "A 5", "X", "?", "", "e 5", "1 2"}) {
        char line[kPreparedLineSize] = {};
        std::strcpy(line, text);
        EXPECT_TRUE(ExpandAlias(line, sizeof line, kCommandLanguage)) << text;
        EXPECT_STREQ(line, text);
    }
}

TEST(ExpandAlias, RefusesAnExpansionThatDoesNotFit) {
    char line[16] = "R 1234567";  // "RECEIVE 1234567" needs 16 bytes
    EXPECT_TRUE(ExpandAlias(line, sizeof line, kCommandLanguage));
    EXPECT_STREQ(line, "RECEIVE 1234567");
    char tight[16] = "R 12345678";
    EXPECT_FALSE(ExpandAlias(tight, sizeof tight, kCommandLanguage));
    EXPECT_STREQ(tight, "R 12345678");
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
        const char* raw = c.raw;
        PreparedLine prepared;
        ASSERT_TRUE(PrepareLine(raw, prepared));
        EXPECT_STREQ(prepared.text, c.text);
        EXPECT_STREQ(prepared.typed, c.typed);
        ASSERT_EQ(std::strlen(prepared.text), std::strlen(prepared.typed));
        for (std::size_t i = 0; prepared.text[i] != '\0'; ++i)
            EXPECT_EQ(std::toupper(static_cast<unsigned char>(prepared.typed[i])),
                      std::toupper(static_cast<unsigned char>(prepared.text[i])))
                << raw << " at " << i;
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
