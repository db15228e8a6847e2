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

#include "bus/tcp_transport.h"
#include "commands/command_context.h"
#include "commands/file_names.h"
#include "commands/received_display.h"
#include "unit/fake_host.h"

namespace kelvo {

std::int32_t WriteCaptureFile(CommandContext& s, std::int32_t count);

namespace {

using unit::Display;

class ReceivedDataTest : public unit::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        s.Parsed.DisplayReceived = true;
        host.step = 10;
    }
    void TearDown() override {
        AdoptConnection(s, -1);
        if (peer_ >= 0) close(peer_);
        CoreTest::TearDown();
    }

    // Connects the transport to a socket pair whose other end gets the first
    // segment at once and one more at each pump of the wait.
    void Connect(std::vector<std::string> segments) {
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        AdoptConnection(s, fds[0]);
        peer_ = fds[1];
        segments_ = std::move(segments);
        next_ = 0;
        host.onPump = [this] {
            if (next_ == segments_.size()) return;
            const std::string& s = segments_[next_++];
            ASSERT_EQ(write(peer_, s.data(), s.size()), static_cast<ssize_t>(s.size()));
        };
        host.onPump();
    }

    std::string Receive(std::int32_t max, std::int16_t* status = nullptr) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(max) + 1);
        const std::int16_t result = TcpReceive(s, {buffer.data(), static_cast<std::size_t>(max)});
        if (status) *status = result;
        return std::string(reinterpret_cast<char*>(buffer.data()), static_cast<std::size_t>(SocketByteCount(s)));
    }

    std::vector<std::string> segments_;
    std::size_t next_ = 0;
    int peer_ = -1;
};

struct FramingCase {
    const char* name;
    std::vector<std::string> segments;
    std::int32_t max;
    std::string expected;
};

// What the simple framings, a closed connection and a timeout show is pinned end
// to end against the instrument simulator; these are the edges it cannot reach.
TEST_F(ReceivedDataTest, ReplyFraming) {
    const std::string big = "#6100000" + std::string(99999, '\n') + "Z" + "\n";
    const FramingCase cases[] = {
        {"line feed ends the reply, the rest is lost", {std::string("ABC\nmore")}, 100, "ABC\n"},
        {"leading zero bytes dropped, later ones kept", {std::string("\0\0AB\0C\nX", 8)}, 100, std::string("AB\0C\n", 5)},
        {"a single leading zero byte dropped", {std::string("\0AB\n", 4)}, 100, "AB\n"},
        {"header split across receives", {"#", "1", "4", "A\nBC", "\n"}, 100, "#14A\nBC\n"},
        {"block shorter than the segment", {std::string("#12AB;CD\nXY")}, 100, "#12AB;CD\n"},
        {"not a block", {std::string("#A\nB")}, 100, "#A\n"},
        {"a large block with line feeds", {big}, 200000, big},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.name);
        Connect(c.segments);
        std::int16_t status = 1;
        EXPECT_EQ(Receive(c.max, &status), c.expected);
        EXPECT_EQ(status, 0);
        AdoptConnection(s, -1);
        close(peer_);
        peer_ = -1;
    }
    EXPECT_TRUE(Display().empty());
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
// The forms a bench instrument's replies take are pinned end to end; these are
// the edges.

struct DisplayCase {
    const char* name;
    std::string reply;
    DisplayFormat format;
    bool lineNumbers;
    std::vector<std::string> lines;  // with attributes; the summary's time left out
};

TEST_F(ReceivedDataTest, DisplayForms) {
    std::string letters;
    for (char c = 'A'; c <= 'T'; ++c) letters += c;
    const DisplayCase cases[] = {
        {"dump lines padded to one column", letters, DisplayFormat::Hex, false,
         {"{3}00000{1}:   41 42 43 44  45 46 47 48  49 4a 4b 4c  4d 4e 4f 50    [{5}ABCDEFGHIJKLMNOP{1}]",
          "{3}00010{1}:   51 52 53 54                                           [{5}QRST{1}]",
          "{1}20{3} byte{3}s{3} received, "}},
        {"no fields without PR", "1.5,2.5;OK\r\n", DisplayFormat::Text, false,
         {"{1}1.5,2.5;OK", "{1}12{3} byte{3}s{3} received, {1}1{3} line{3}, "}},
        {"block header on a line of its own", "#15HELLO\n", DisplayFormat::Text, false,
         {"{1}#15", "{1}HELLO", "{1}9{3} byte{3}s{3} received, {1}1{3} line{3}, "}},
        {"lines end at control delimiters, shown as blanks", "A\tB\nC", DisplayFormat::Text, false,
         {"{1}A{1} ", "{1}B{1} ", "{1}C", "{1}5{3} byte{3}s{3} received, {1}3{3} line{3}s{3}, "}},
        {"a final delimiter ends the display", "A,", DisplayFormat::Fields, false,
         {"{1}A{5},", "{1}2{3} byte{3}s{3} received, {1}2{3} line{3}s{3}, "}},
    };
    // Wide enough for a whole dump line (81 characters).
    console.SetLayout(8, 16, 1024, 480);
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        ClearDisplay(s);
        s.Parsed.PrintFormat = c.format;
        s.Parsed.PrintLineNumbers = c.lineNumbers;
        std::memcpy(s.ResponseBuffer, c.reply.data(), c.reply.size());
        ShowReceived(s, s.ResponseBuffer, static_cast<std::int32_t>(c.reply.size()));
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
    std::memcpy(s.ResponseBuffer, reply.data(), reply.size());
    ShowReceived(s, s.ResponseBuffer, 200);
    const auto lines = Display();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].size(), 79u);  // 78 characters and the one cut at
    EXPECT_EQ(lines[1].size(), 79u);
    EXPECT_EQ(lines[2].size(), 42u);
    EXPECT_EQ(lines[3].rfind("200 bytes received, 3 lines, ", 0), 0u);
}

TEST_F(ReceivedDataTest, WhatTheDisplayLeavesForTheChecks) {
    const char reply[] = "1,2\n";
    std::memcpy(s.ResponseBuffer, reply, 4);
    s.Parsed.PrintFormat = DisplayFormat::Fields;
    ShowReceived(s, s.ResponseBuffer, 4);
    EXPECT_STREQ(reinterpret_cast<char*>(s.ResponseBuffer.data()), "1");

    std::memcpy(s.ResponseBuffer, reply, 4);
    s.Parsed.PrintFormat = DisplayFormat::Fields;
    s.Parsed.DisplayReceived = false;
    ClearDisplay(s);
    ShowReceived(s, s.ResponseBuffer, 4);
    EXPECT_STREQ(reinterpret_cast<char*>(s.ResponseBuffer.data()), "1,2");
    ASSERT_EQ(Display().size(), 1u);  // the summary alone
}

// A session made over the buffers an ended one handed on starts as a new one:
// the same bytes, zeroed again.
TEST_F(ReceivedDataTest, HandedOnBuffersAreZeroedAgain) {
    s.ResponseBuffer[5] = 'x';
    s.FileBuffer3[kDataBufferSize + 3] = 'y';
    s.ByteList[kByteListSize - 1] = 1;
    const unsigned char* const response = s.ResponseBuffer;
    Session next(console, host, s.TakeBuffers());
    EXPECT_EQ(next.ResponseBuffer.data(), response);
    EXPECT_EQ(next.ResponseBuffer[5] + next.FileBuffer3[kDataBufferSize + 3] + next.ByteList[kByteListSize - 1], 0);
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
        std::snprintf(s.Parsed.CaptureFileName.typed, 128, "%s", path.c_str());
        s.Parsed.StripArbHeader = strip;
        std::memcpy(s.ResponseBuffer, reply.data(), reply.size());
        const std::int32_t written = WriteCaptureFile(s, static_cast<std::int32_t>(reply.size()));
        std::ifstream in(path, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(written, reply.empty() ? 0 : static_cast<std::int32_t>(content.size()));
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
    // Without a reply the last capture stays.
    EXPECT_EQ(Capture("", true), "#2X5abcde");
}

TEST_F(CaptureFileTest, NewFilesGoIntoAFolderOrOntoAFileOfAnotherCase) {
    std::ofstream(folder_ / "Data.TXT") << "x";
    std::filesystem::create_directories(folder_ / "Sub");
    const std::string base = folder_.string() + "/";
    // Existing files are looked up through RUN, in the command-file tests.
    EXPECT_EQ(ResolveNewFile(base + "SUB/New.bin"), base + "Sub/New.bin");
    EXPECT_EQ(ResolveNewFile(base + "DATA.txt"), base + "Data.TXT");
    EXPECT_EQ(ResolveNewFile(base + "NODIR/x"), base + "NODIR/x");
}

}  // namespace
}  // namespace kelvo
