// The address checks, the settings file, and the history file's fallback to
// defaults for values the Interface dialog would refuse.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/address_checks.h"
#include "console/edit_line.h"
#include "console/history_file.h"
#include "console/settings_file.h"

namespace kelvo {
namespace {

TEST(AddressChecks, Ipv4AddressesAreFourNumbersUpTo255) {
    for (const char* good : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.0.5.7"})
        EXPECT_TRUE(IsIpv4Address(good)) << good;
    for (const char* bad : {"", "abc.999.1", "256.0.0.1", "1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.4.", " 1.2.3.4",
                            "1.2.3.-4", "0001.2.3.4", "1.2.3.4x"})
        EXPECT_FALSE(IsIpv4Address(bad)) << bad;
}

TEST(AddressChecks, HostNamesAreLabelsButNotMistypedAddresses) {
    for (const char* good : {"localhost", "scope-1.lab.example", "a", "x2", "zZ"}) EXPECT_TRUE(IsHostName(good)) << good;
    for (const char* bad : {"", "10.0.0.999", "abc.999.1", "-a", "a-", "a..b", "a b", "a_b", "a."})
        EXPECT_FALSE(IsHostName(bad)) << bad;
    EXPECT_FALSE(IsHostName(std::string(64, 'a')));
}

TEST(AddressChecks, PortsAreOneTo65535) {
    EXPECT_EQ(ParsePort("1"), 1);
    EXPECT_EQ(ParsePort(" 5025 "), 5025);
    EXPECT_EQ(ParsePort("65535"), 65535);
    for (const char* bad : {"", "0", "70000", "-1", "abc", "50x", "000001"}) EXPECT_FALSE(ParsePort(bad)) << bad;
}

class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kelvo_settings_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    std::filesystem::path dir_;
};

using SettingsFileTest = Scratch;

TEST_F(SettingsFileTest, BadValuesReadAsDefaultsAndUnknownKeysSurviveASave) {
    const std::string path = Path("kelvo.ini");
    Write(path, "# a comment\n window.width = 800 \r\nwindow.height=abc\nfont.size=999\nother.key=kept\nno equals\n"
                "window.maximized=yes\nwindow.x=+12\n");
    SettingsFile file;
    ASSERT_TRUE(file.Load(path));
    EXPECT_EQ(file.Integer("window.width", 100, 10000, 640), 800);
    EXPECT_EQ(file.Integer("window.height", 100, 10000, 480), 480);
    EXPECT_EQ(file.Integer("font.size", 4, 72, 10), 10);
    EXPECT_EQ(file.Integer("missing", 0, 9, 3), 3);
    EXPECT_EQ(file.Integer("window.x", 0, 99, 3), 12);
    EXPECT_TRUE(file.Flag("window.maximized", false));
    EXPECT_TRUE(file.Flag("other.key", true));

    file.SetInteger("font.size", 14);
    EXPECT_FALSE(file.Set("bad\nkey", "x"));
    EXPECT_FALSE(file.Set("k", "two\nlines"));
    ASSERT_TRUE(file.Save(path));
    EXPECT_EQ(Read(path), "# Kelvo settings: key=value, one a line\nwindow.width=800\nwindow.height=abc\n"
                          "font.size=14\nother.key=kept\nwindow.maximized=yes\nwindow.x=+12\n");
}

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndTheNameFollowsTheHistoryFile) {
    SettingsFile file;
    EXPECT_FALSE(file.Load(Path("absent.ini")));
    EXPECT_TRUE(file.Entries().empty());
    EXPECT_FALSE(file.Save(Path("no/such/dir/kelvo.ini")));
    EXPECT_EQ(SettingsFileBeside("/opt/k/kelvo.HIS"), "/opt/k/kelvo.ini");
    EXPECT_EQ(SettingsFileBeside("/a.b/kelvo"), "/a.b/kelvo.ini");
}

TEST_F(SettingsFileTest, TheTcpIpKindDeviceAndKeepConnectionRoundTripAndBadValuesReadAsDefaults) {
    const std::string path = Path("kelvo.ini");
    InterfaceSettings settings;
    settings.Lan = LanProtocol::Vxi11;
    std::snprintf(settings.DeviceName, sizeof settings.DeviceName, "gpib0");
    settings.KeepConnection = true;
    SettingsFile file;
    file.Set("font.size", "12");
    WriteLanChoices(file, settings);
    ASSERT_TRUE(file.Save(path));
    EXPECT_EQ(Read(path), "# Kelvo settings: key=value, one a line\nfont.size=12\nlan.protocol=vxi11\n"
                          "lan.device=gpib0\nlan.keep_connection=1\n");
    SettingsFile again;
    ASSERT_TRUE(again.Load(path));
    InterfaceSettings read;
    ReadLanChoices(again, read);
    EXPECT_EQ(read.Lan, LanProtocol::Vxi11);
    EXPECT_STREQ(read.DeviceName, "gpib0");
    EXPECT_TRUE(read.KeepConnection);

    Write(path, "lan.protocol=telnet\nlan.device=9bad name\nlan.keep_connection=maybe\n");
    SettingsFile bad;
    ASSERT_TRUE(bad.Load(path));
    ReadLanChoices(bad, read);
    EXPECT_EQ(read.Lan, LanProtocol::Greeting);
    EXPECT_STREQ(read.DeviceName, "inst0");
    EXPECT_FALSE(read.KeepConnection);
    EXPECT_TRUE(ValidDeviceName("gpib0,5"));
    EXPECT_TRUE(ValidDeviceName("inst0"));
    EXPECT_TRUE(ValidDeviceName("zZ"));
    EXPECT_FALSE(ValidDeviceName(""));
    EXPECT_FALSE(ValidDeviceName("inst 0"));
    EXPECT_FALSE(ValidDeviceName(std::string(32, 'a')));
}

TEST_F(SettingsFileTest, AHostNameIsKeptBesideTheDottedAddress) {
    InterfaceSettings settings;
    ASSERT_TRUE(SetInstrumentHost(settings, "scope-1.lab"));
    EXPECT_STREQ(InstrumentHost(settings), "scope-1.lab");
    EXPECT_STREQ(settings.IpAddress, "127.0.0.1");
    EXPECT_FALSE(SetInstrumentHost(settings, "abc.999.1"));
    SettingsFile file;
    WriteLanChoices(file, settings);
    EXPECT_EQ(file.Text("lan.host"), "scope-1.lab");
    InterfaceSettings read;
    ReadLanChoices(file, read);
    EXPECT_STREQ(InstrumentHost(read), "scope-1.lab");
    // The dotted address again: the name is emptied, not left behind.
    ASSERT_TRUE(SetInstrumentHost(settings, "10.0.0.2"));
    WriteLanChoices(file, settings);
    EXPECT_EQ(file.Text("lan.host", "unset"), "");
    ReadLanChoices(file, read);
    EXPECT_STREQ(InstrumentHost(read), "127.0.0.1");
    file.Set("lan.host", "bad name");
    ReadLanChoices(file, read);
    EXPECT_STREQ(read.HostName, "");
}

using HistoryChecks = Scratch;

TEST_F(HistoryChecks, RefusedPortsAndAddressesFallBackToDefaults) {
    const std::string path = Path("kelvo.HIS");
    struct Case {
        std::uint16_t port, second;
        const char* ip;
        std::uint16_t wantPort, wantSecond;
        const char* wantIp;
    } cases[] = {
        {5025, 5026, "10.0.0.7", 5025, 5026, "10.0.0.7"},
        {0, 0, "abc.999.1", kDefaultTcpPort, kDefaultSecondPort, kDefaultIpAddress},
        {65535, 1, "256.1.1.1", 65535, 1, kDefaultIpAddress},
        {1, 0, "", 1, kDefaultSecondPort, kDefaultIpAddress},
    };
    for (const Case& c : cases) {
        CommandHistory history;
        InterfaceSettings settings;
        SaveDialogState dialog;
        settings.TcpPort = c.port;
        settings.SecondPort = c.second;
        std::snprintf(settings.IpAddress, sizeof settings.IpAddress, "%s", c.ip);
        HistoryFile writer;
        ASSERT_TRUE(writer.Save(path, history, settings, dialog));

        InterfaceSettings loaded;
        HistoryFile reader;
        ASSERT_TRUE(reader.Load(path, history, loaded, dialog));
        EXPECT_EQ(loaded.TcpPort, c.wantPort) << c.ip;
        EXPECT_STREQ(loaded.IpAddress, c.wantIp) << c.ip;
        EXPECT_EQ(loaded.SecondPort, c.wantSecond);
    }
}

TEST(EditLineLength, TakesTwoHundredFiftyFourCharactersWhateverTheWindow) {
    EditLine edit;
    int accepted = 0;
    for (int i = 0; i < 300; ++i) accepted += edit.Insert(static_cast<char>('a' + i % 26)) ? 1 : 0;
    EXPECT_EQ(accepted, 254);
    EXPECT_EQ(edit.EditEnd(), 255);
    char taken[256];
    EXPECT_EQ(edit.Take(taken, sizeof taken), 254u);
    edit.Set(std::string(300, 'q'));
    EXPECT_EQ(edit.EditEnd(), 255);
    edit.Home();
    EXPECT_FALSE(edit.Insert('z'));  // full, wherever the caret is
    edit.Set(std::string(250, 'e'));
    EXPECT_TRUE(edit.ReplaceBeforeCaret(248, "ENTER ") && edit.EditEnd() == 255);  // a completion that just fits
}

}  // namespace
}  // namespace kelvo
