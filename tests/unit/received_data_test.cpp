// The TCP/IP reply framing, the received-data display and the capture file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bus/bus_errors.h"
#include "bus/interface_settings.h"
#include "bus/tcp_transport.h"
#include "bus/timer.h"
#include "cli/cli_format.h"
#include "commands/data_buffers.h"
#include "commands/file_names.h"
#include "commands/received_display.h"
#include "console/console.h"
#include "console/host.h"
#include "console/program_state.h"
#include "interp/parsed_command.h"

namespace kelvo {

std::int32_t WriteCaptureFile(std::int32_t count);

namespace {

// Feeds the next segment of a reply each time the transport waits and pumps.
class FeedingHost : public Host {
public:
    void Beep(unsigned hz, unsigned ms) override { beeps.push_back({hz, ms}); }
    void PumpMessages() override {
        if (next < segments.size()) {
            const std::string& s = segments[next++];
            ASSERT_EQ(write(peer, s.data(), s.size()), static_cast<ssize_t>(s.size()));
        } else if (closeWhenDone && peer >= 0) {
            close(peer);
            peer = -1;
        }
    }
    std::uint32_t TickCount() override { return now += 10; }

    std::vector<std::pair<unsigned, unsigned>> beeps;
    std::vector<std::string> segments;
    std::size_t next = 0;
    int peer = -1;
    bool closeWhenDone = false;
    std::uint32_t now = 0;
};

std::vector<std::string> Display(bool attrs = false) {
    std::vector<std::string> lines;
    const Console& console = TheConsole();
    for (int i = 0; i < console.CurrentLine(); ++i) lines.push_back(cli::FormatDisplayLine(console.Line(i), attrs));
    if (console.Line(console.CurrentLine()).length > 0)
        lines.push_back(cli::FormatDisplayLine(console.Line(console.CurrentLine()), attrs));
    return lines;
}

class ReceivedDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProgramState();
        ResetInterfaceSettings();
        Parsed = ParsedCommand{};
        Parsed.DisplayReceived = 1;
        previous_ = SetHost(&host);
        TheConsole().SetLayout(8, 16, 640, 480);
        ClearDisplay();
    }
    void TearDown() override {
        AdoptConnection(-1);
        if (host.peer >= 0) close(host.peer);
        SetHost(previous_);
    }

    // Connects the transport to a socket pair whose other end the host feeds:
    // the first segment is there at once, the others come one per wait.
    void Connect(std::vector<std::string> segments) {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        AdoptConnection(fds[0]);
        host.peer = fds[1];
        host.segments = std::move(segments);
        host.next = 0;
        host.PumpMessages();
    }

    std::string Receive(std::int32_t max, std::int16_t* status = nullptr) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(max) + 1);
        const std::int16_t result = TcpReceive(buffer.data(), max);
        if (status) *status = result;
        return std::string(reinterpret_cast<char*>(buffer.data()), static_cast<std::size_t>(SocketByteCount));
    }

    FeedingHost host;
    Host* previous_ = nullptr;
};

struct FramingCase {
    const char* name;
    std::vector<std::string> segments;
    std::int32_t max;
    std::string expected;
};

TEST_F(ReceivedDataTest, ReplyFraming) {
    const std::string big = "#6100000" + std::string(99999, '\n') + "Z" + "\n";
    const FramingCase cases[] = {
        {"line feed ends the reply, the rest is lost", {std::string("ABC\nmore")}, 100, "ABC\n"},
        {"line feed inside a block", {std::string("#14A\nBC\n")}, 100, "#14A\nBC\n"},
        {"#0 ends at the first line feed", {std::string("#0da\nta\n")}, 100, "#0da\n"},
        {"leading zero bytes dropped, later ones kept", {std::string("\0\0AB\0C\nX", 8)}, 100, std::string("AB\0C\n", 5)},
        {"longer than the buffer", {std::string("ABCDEFGH\n")}, 4, "ABCD"},
        {"header split across receives", {"#", "1", "4", "A\nBC", "\n"}, 100, "#14A\nBC\n"},
        {"block shorter than the segment", {std::string("#12AB;CD\nXY")}, 100, "#12AB;CD\n"},
        {"not a block", {std::string("#A\nB")}, 100, "#A\n"},
        {"reply in pieces", {"12", "34", "5\n"}, 100, "12345\n"},
        {"a large block with line feeds", {big}, 200000, big},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Connect(c.segments);
        std::int16_t status = 1;
        EXPECT_EQ(Receive(c.max, &status), c.expected);
        EXPECT_EQ(status, 0);
        AdoptConnection(-1);
        close(host.peer);
        host.peer = -1;
    }
    EXPECT_TRUE(Display().empty());
}

TEST_F(ReceivedDataTest, ClosedConnectionKeepsWhatArrived) {
    host.closeWhenDone = true;
    Connect({"AB"});
    std::int16_t status = 0;
    EXPECT_EQ(Receive(100, &status), "AB");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(Display(), (std::vector<std::string>{"TCP/IP error while performing unknown operation",
                                                   "Connection closed by instrument"}));
    EXPECT_EQ(host.beeps.size(), 1u);
}

TEST_F(ReceivedDataTest, TimeoutEndsASilentInstrument) {
    Settings.TimeoutMs = 100;
    Connect({""});
    BusOperation = kOpInputString;
    StartTiming();  // the timeout counts from here
    std::int16_t status = 0;
    EXPECT_EQ(Receive(100, &status), "");
    EXPECT_EQ(status, 1);
    const auto lines = Display();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "TCP/IP error while inputing a string");
    EXPECT_EQ(lines[1].rfind("Terminated on timeout after 0.1", 0), 0u);
}

TEST(BlockHeaderParser, Answers) {
    auto feed = [](const char* bytes) {
        BlockHeaderParser parser;
        std::int32_t answer = BlockHeaderParser::kNeedMore;
        for (const char* p = bytes; *p && answer == BlockHeaderParser::kNeedMore; ++p)
            answer = parser.Feed(static_cast<unsigned char>(*p));
        return answer;
    };
    EXPECT_EQ(feed("0"), BlockHeaderParser::kNotABlock);
    EXPECT_EQ(feed("A"), BlockHeaderParser::kNotABlock);
    EXPECT_EQ(feed("210"), 10);
    EXPECT_EQ(feed("3005"), 5);
    EXPECT_EQ(feed("1x"), BlockHeaderParser::kNotABlock);
    EXPECT_EQ(feed("2"), BlockHeaderParser::kNeedMore);
    EXPECT_EQ(feed("10"), BlockHeaderParser::kNotABlock);  // a zero length is no block
    EXPECT_EQ(feed("9999999999"), 999999999);              // the longest length there can be
}

// ---- the display ----

struct DisplayCase {
    const char* name;
    std::string reply;
    std::int16_t format;
    std::int16_t lineNumbers;
    std::vector<std::string> lines;  // with attributes; the summary's time left out
};

TEST_F(ReceivedDataTest, DisplayForms) {
    std::string letters;
    for (char c = 'A'; c <= 'T'; ++c) letters += c;
    const DisplayCase cases[] = {
        {"hex dump of text on request", "Hello", 1, 0,
         {"{3}00000{1}:   48 65 6c 6c  6f  [{5}Hello{1}]", "{1}5{3} byte{3}s{3} received, "}},
        {"dump lines padded to one column", letters, 1, 0,
         {"{3}00000{1}:   41 42 43 44  45 46 47 48  49 4a 4b 4c  4d 4e 4f 50    [{5}ABCDEFGHIJKLMNOP{1}]",
          "{3}00010{1}:   51 52 53 54                                           [{5}QRST{1}]",
          "{1}20{3} byte{3}s{3} received, "}},
        {"binary data is always dumped", std::string("#15\x01\x02\x03\x04\xff\n"), 0, 0,
         {"{3}00000{1}:   23 31 35 01  02 03 04 ff  0a  [{5}#15......{1}]", "{1}9{3} byte{3}s{3} received, "}},
        {"a measurement", "+1.2345E+00\n", 0, 0,
         {"{1}+1.2345E+00", "{1}12{3} byte{3}s{3} received, {1}1{3} line{3}, "}},
        {"fields", "1.5,2.5;OK\r\n", 2, 0,
         {"{1}1.5{5},", "{1}2.5{5};", "{1}OK", "{1}12{3} byte{3}s{3} received, {1}3{3} line{3}s{3}, "}},
        {"no fields without PR", "1.5,2.5;OK\r\n", 0, 0,
         {"{1}1.5,2.5;OK", "{1}12{3} byte{3}s{3} received, {1}1{3} line{3}, "}},
        {"numbered fields", "1.5,2.5;OK\r\n", 2, 1,
         {"{3}1{3}: {1}1.5{5},", "{3}2{3}: {1}2.5{5};", "{3}3{3}: {1}OK",
          "{1}12{3} byte{3}s{3} received, {1}3{3} line{3}s{3}, "}},
        {"block header on a line of its own", "#15HELLO\n", 0, 0,
         {"{1}#15", "{1}HELLO", "{1}9{3} byte{3}s{3} received, {1}1{3} line{3}, "}},
        {"only a line end", "\r\n", 0, 0, {"{1}2{3} byte{3}s{3} received, {1}1{3} line{3}, "}},
        {"lines end at control delimiters, shown as blanks", "A\tB\nC", 0, 0,
         {"{1}A{1} ", "{1}B{1} ", "{1}C", "{1}5{3} byte{3}s{3} received, {1}3{3} line{3}s{3}, "}},
        {"a final delimiter ends the display", "A,", 2, 0,
         {"{1}A{5},", "{1}2{3} byte{3}s{3} received, {1}2{3} line{3}s{3}, "}},
    };
    // Wide enough for a whole dump line (81 characters).
    TheConsole().SetLayout(8, 16, 1024, 480);
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        ClearDisplay();
        Parsed.PrintFormat = c.format;
        Parsed.PrintLineNumbers = c.lineNumbers;
        std::memcpy(ResponseBuffer, c.reply.data(), c.reply.size());
        ShowReceived(ResponseBuffer, static_cast<std::int32_t>(c.reply.size()));
        auto lines = Display(true);
        ASSERT_FALSE(lines.empty());
        const auto time = lines.back().rfind("{1}0.");
        ASSERT_NE(time, std::string::npos);
        lines.back() = lines.back().substr(0, time);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(ReceivedDataTest, LongTextWrapsAtTheWindowWidth) {
    const std::string reply(200, 'x');
    std::memcpy(ResponseBuffer, reply.data(), reply.size());
    ShowReceived(ResponseBuffer, 200);
    const auto lines = Display();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].size(), 79u);  // 78 characters and the one cut at
    EXPECT_EQ(lines[1].size(), 79u);
    EXPECT_EQ(lines[2].size(), 42u);
    EXPECT_EQ(lines[3].rfind("200 bytes received, 3 lines, ", 0), 0u);
}

TEST_F(ReceivedDataTest, WhatTheDisplayLeavesForTheChecks) {
    const char reply[] = "1,2\n";
    std::memcpy(ResponseBuffer, reply, 4);
    Parsed.PrintFormat = 2;
    ShowReceived(ResponseBuffer, 4);
    EXPECT_STREQ(reinterpret_cast<char*>(ResponseBuffer), "1");

    std::memcpy(ResponseBuffer, reply, 4);
    Parsed.PrintFormat = 2;
    Parsed.DisplayReceived = 0;
    ClearDisplay();
    ShowReceived(ResponseBuffer, 4);
    EXPECT_STREQ(reinterpret_cast<char*>(ResponseBuffer), "1,2");
    ASSERT_EQ(Display().size(), 1u);  // the summary alone
}

TEST_F(ReceivedDataTest, BinaryDetectionLooksAtTheFirst256Bytes) {
    std::string data(300, 'a');
    data[299] = '\x01';
    EXPECT_FALSE(IsBinaryData(reinterpret_cast<const unsigned char*>(data.data()), 300));
    data[255] = '\x80';
    EXPECT_TRUE(IsBinaryData(reinterpret_cast<const unsigned char*>(data.data()), 300));
    EXPECT_FALSE(IsBinaryData(reinterpret_cast<const unsigned char*>("a\tb\r\n"), 5));
}

// ---- capture files ----

class CaptureFileTest : public ReceivedDataTest {
protected:
    void SetUp() override {
        ReceivedDataTest::SetUp();
        folder_ = std::filesystem::temp_directory_path() / ("kelvo-capture-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        ReceivedDataTest::TearDown();
    }
    std::string Capture(const std::string& reply, bool strip) {
        const std::string path = (folder_ / "out.bin").string();
        std::snprintf(Parsed.CaptureFileName.typed, 128, "%s", path.c_str());
        Parsed.StripArbHeader = strip ? 1 : 0;
        std::memcpy(ResponseBuffer, reply.data(), reply.size());
        const std::int32_t written = WriteCaptureFile(static_cast<std::int32_t>(reply.size()));
        std::ifstream in(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(written, static_cast<std::int32_t>(content.size()));
        return content;
    }
    std::filesystem::path folder_;
};

TEST_F(CaptureFileTest, StripsOnlyAWholeBlockHeader) {
    EXPECT_EQ(Capture("#15HELLO\n", true), "HELLO");
    EXPECT_EQ(Capture("#15HELLO\n", false), "#15HELLO\n");
    EXPECT_EQ(Capture("#0abc\n", true), "abc\n");
    EXPECT_EQ(Capture("#3010" + std::string(10, 'z') + "\n", true), std::string(10, 'z'));
    EXPECT_EQ(Capture("NOHEADER\n", true), "NOHEADER\n");
    EXPECT_EQ(Capture("#19ABC\n", true), "#19ABC\n");  // announces more than arrived
    EXPECT_EQ(Capture("#2X5abcde", true), "#2X5abcde");  // bad digits
    EXPECT_EQ(Capture("", true), "");
}

TEST_F(CaptureFileTest, NamesAreMatchedWithoutRegardToCase) {
    std::ofstream(folder_ / "Data.TXT") << "x";
    std::filesystem::create_directories(folder_ / "Sub");
    const std::string base = folder_.string() + "/";
    EXPECT_EQ(ResolveExistingFile(base + "Data.TXT"), base + "Data.TXT");
    EXPECT_EQ(ResolveExistingFile(base + "DATA.TXT"), base + "Data.TXT");
    EXPECT_EQ(ResolveExistingFile(base + "MISSING.TXT"), base + "MISSING.TXT");
    EXPECT_EQ(ResolveNewFile(base + "SUB/New.bin"), base + "Sub/New.bin");
    EXPECT_EQ(ResolveNewFile(base + "DATA.txt"), base + "Data.TXT");
    EXPECT_EQ(ResolveNewFile(base + "NODIR/x"), base + "NODIR/x");
}

}  // namespace
}  // namespace kelvo
