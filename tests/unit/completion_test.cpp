// Tab completion from the keyword trees and the folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "interp/keywords.h"
#include "script/command_language.h"

namespace kelvo {
namespace {

using Words = std::vector<std::string>;

struct Case {
    const char* line;
    Words candidates;
    const char* completed;  // the line after Tab
};

std::string AfterTab(const std::string& line) {
    const Completion c = CompleteWord(line, line.size());
    return line.substr(0, c.wordStart) + CompletedText(c, line.substr(c.wordStart));
}

TEST(Completion, CommandAndOptionWordsComeFromTheTables) {
    const Case cases[] = {
        {"ENT", {"ENTER"}, "ENTER "},
        {"ent", {"ENTER"}, "ENTER "},
        {"EN", {"END", "ENTER"}, "EN"},
        {"PP", {"PPCONF", "PPOLL", "PPUNC"}, "PP"},
        {"E 5 F", {"FD", "FO", "FO2", "FO3"}, "E 5 F"},
        {"ENTER 5 FO", {"FO", "FO2", "FO3"}, "ENTER 5 FO"},
        {"OUTPUT 7 P", {"PA"}, "OUTPUT 7 PA "},
        {"TM S", {"START", "STOP"}, "TM ST"},
        {"BEEP OF", {"OFF"}, "BEEP OFF "},
        {"RUN x ", {"FR"}, "RUN x FR "},
        {"OUTPUT 7 ;EN", {}, "OUTPUT 7 ;EN"},  // behind ';' nothing is touched
        {"QQ", {}, "QQ"},
        {"ZIP ", {}, "ZIP "},  // no options
        {"NOSUCH 5 F", {}, "NOSUCH 5 F"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompleteWord(c.line, std::string(c.line).size()).candidates, c.candidates) << c.line;
        EXPECT_EQ(AfterTab(c.line), c.completed) << c.line;
    }
    // Every command word is offered on an empty line, with no one-letter stand-ins.
    const Words all = CompleteWord("", 0).candidates;
    EXPECT_EQ(all.size(), 30u);
    EXPECT_NE(std::find(all.begin(), all.end(), "TRIGGER"), all.end());
    EXPECT_EQ(std::find(all.begin(), all.end(), "E"), all.end());
}

TEST(Completion, FileNamesKeepTheTypedCase) {
    char folder[] = "/tmp/kelvo-complete-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    for (const char* name : {"Data1.txt", "data2.txt", ".hidden"}) std::fclose(std::fopen((dir + "/" + name).c_str(), "w"));
    mkdir((dir + "/Sub").c_str(), 0700);
    EXPECT_EQ(CompleteWord("RUN " + dir + "/s", 5 + dir.size() + 1).candidates, Words{dir + "/sub/"});
    EXPECT_EQ(AfterTab("ENTER 5 FD " + dir + "/DATA"), "ENTER 5 FD " + dir + "/DATA");
    EXPECT_EQ(CompleteWord("ENTER 5 FD " + dir + "/DATA", 16 + dir.size()).candidates,
              (Words{dir + "/DATA1.txt", dir + "/DATA2.txt"}));
    EXPECT_EQ(AfterTab("SHELL " + dir + "/data1"), "SHELL " + dir + "/data1.txt ");
    EXPECT_TRUE(CompleteWord("RUN " + dir + "/nothing", 12 + dir.size()).candidates.empty());
    EXPECT_EQ(CompleteWord("RUN " + dir + "/", 5 + dir.size()).candidates,  // no hidden file unless asked for
              (Words{dir + "/Data1.txt", dir + "/Sub/", dir + "/data2.txt"}));
    EXPECT_TRUE(CompleteWord("RUN /no/such/folder/x", 21).fileNames);
    for (const char* name : {"Data1.txt", "data2.txt", ".hidden", "Sub"}) std::remove((dir + "/" + name).c_str());
    rmdir(folder);
}

// Option words of a tree of every kind: a word that is also the start of longer
// ones is offered only when it has more than one letter.
TEST(Completion, OneLetterStandInsAreNotOffered) {
    static const ParseAction kAction{};
    static const TailRecord kOre{"ORE", &kAction};
    static const KeywordEntry kO[] = {Leaf('O', kAction), EndOfNode()};
    static const BranchOrLeafRecord kEitherN{1, kO, &kAction}, kEitherM{2, &kOre, &kAction};
    static const KeywordEntry kOptions[] = {Either('N', kEitherN), Either('M', kEitherM), Leaf('Q', kAction),
                                            EndOfNode()};
    static const CommandRow kRows[] = {{50, "PROBE", 'P', nullptr, kOptions, "PROBE", {}, {}, {}, Capability::None}};
    const CommandTable table{kRows};
    EXPECT_EQ(CompleteWord(table, "PROBE ", 6).candidates, (Words{"MORE", "NO", "Q"}));
    EXPECT_EQ(CompleteWord(table, "P N", 3).candidates, Words{"NO"});
}

}  // namespace
}  // namespace kelvo
