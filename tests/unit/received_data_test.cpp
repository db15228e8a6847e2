// The TCP/IP reply framing, block headers and handed-on buffers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bus/tcp_transport.h"
#include "commands/command_context.h"
#include "unit/fake_host.h"

namespace kelvo {
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
    const std::pair<const char*, std::int32_t> cases[] = {
        {"0", BlockHeaderParser::kNotABlock}, {"A", BlockHeaderParser::kNotABlock}, {"210", 10}, {"3005", 5},
        {"1x", BlockHeaderParser::kNotABlock}, {"2", BlockHeaderParser::kNeedMore},
        {"10", BlockHeaderParser::kNotABlock},  // a zero length is no block
        {"9999999999", 999999999},              // the longest length there can be
    };
    for (const auto& [bytes, expected] : cases) {
        BlockHeaderParser parser;
        std::int32_t answer = BlockHeaderParser::kNeedMore;
        for (const char* p = bytes; *p && answer == BlockHeaderParser::kNeedMore; ++p)
            answer = parser.Feed(static_cast<unsigned char>(*p));
        EXPECT_EQ(answer, expected) << bytes;
    }
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

}  // namespace
}  // namespace kelvo
