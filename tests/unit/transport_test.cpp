// The ways of reaching an instrument as the commands see them: which one the
// settings select, what each offers, and the TCP/IP instrument's messages and
// reply facts through the interface alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bus/bus_connections.h"
#include "bus/unique_fd.h"
#include "unit/fake_host.h"

namespace kelvo {
namespace {

class TransportTest : public unit::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        host.step = 10;
    }
    void TearDown() override {
        AdoptConnection(s, -1);
        if (peer_ >= 0) close(peer_);
        CoreTest::TearDown();
    }
    // The TCP/IP transport on one end of a socket pair; `reply` waits at the other.
    void ConnectTcp(const std::string& reply) {
        s.Settings.Protocol = BusProtocol::TcpIp;
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        AdoptConnection(s, fds[0]);
        peer_ = fds[1];
        if (!reply.empty()) {
            ASSERT_EQ(write(peer_, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
        }
    }
    int peer_ = -1;
};

TEST_F(TransportTest, TheSettingsSelectTheWayAndItsCapabilities) {
    s.Settings.Protocol = BusProtocol::Gpib;
    EXPECT_EQ(&SelectedTransport(s), &s.Connections().Gpib());
    EXPECT_EQ(ConnectionCapabilities(s), kAllCapabilities);
    s.Settings.Protocol = BusProtocol::TcpIp;
    EXPECT_EQ(&SelectedTransport(s), &s.Connections().TcpIp());
    EXPECT_EQ(ConnectionCapabilities(s), Capability::None);
    ASSERT_EQ(AllTransports(s).size(), 2u);
    EXPECT_EQ(AllTransports(s)[0], &s.Connections().Gpib());
    EXPECT_EQ(AllTransports(s)[1], &s.Connections().TcpIp());
}

TEST_F(TransportTest, TcpIpWritesAndReadsThroughTheInterface) {
    ConnectTcp("OK\n");
    Transport& bus = SelectedTransport(s);
    EXPECT_EQ(bus.Connect(), 0);  // already connected: nothing to do
    EXPECT_EQ(bus.AddressListener(5), 0);
    bus.BeginMessage();
    const std::string query = "*IDN?\n";
    const Moved sent = bus.Write({reinterpret_cast<const unsigned char*>(query.data()), query.size()});
    bus.EndMessage();
    EXPECT_EQ(sent.status, 0);
    EXPECT_EQ(sent.count, 6);
    char got[16] = {};
    ASSERT_EQ(read(peer_, got, sizeof got), 6);
    EXPECT_EQ(std::string(got, 6), query);

    std::vector<unsigned char> buffer(16);
    EXPECT_EQ(bus.ReadReply(buffer), 0);
    EXPECT_EQ(bus.TransferCount(), 3);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 3), "OK\n");
    EXPECT_EQ(bus.RestOfReply(0, 16), ReplyRest::None);
}

TEST_F(TransportTest, TcpIpSaysWhatBecameOfTheRestOfALongReply) {
    ConnectTcp("0123456789ABCDEF\n");
    Transport& bus = SelectedTransport(s);
    std::vector<unsigned char> buffer(10);
    EXPECT_EQ(bus.ReadReply(buffer), 0);
    EXPECT_EQ(bus.TransferCount(), 10);
    EXPECT_EQ(bus.RestOfReply(0, 10), ReplyRest::Dropped);
    EXPECT_EQ(bus.DroppedBytes(), 7);
}

TEST_F(TransportTest, WithoutTheCapabilityABusOperationDoesNothing) {
    s.Settings.Protocol = BusProtocol::TcpIp;
    Transport& bus = SelectedTransport(s);
    const unsigned char bytes[1] = {0x3F};
    EXPECT_EQ(bus.SendCommand(bytes), 1);
    unsigned char response = 0xFF;
    EXPECT_EQ(bus.ParallelPoll(response), 1);
    EXPECT_EQ(response, 0);
    EXPECT_EQ(bus.InterfaceClear(), 1);
    EXPECT_EQ(bus.RemoteEnable(true), 1);
    EXPECT_TRUE(Display().empty());
}

TEST(UniqueFd, ClosesWhatItHoldsAndGivesItUpOnRelease) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    {
        UniqueFd owner(fds[0]);
        EXPECT_TRUE(owner.Valid());
        UniqueFd moved(std::move(owner));
        EXPECT_FALSE(owner.Valid());
        EXPECT_EQ(moved.Get(), fds[0]);
    }
    EXPECT_EQ(fcntl(fds[0], F_GETFD), -1);  // closed with its owner
    UniqueFd kept(fds[1]);
    const int raw = kept.Release();
    EXPECT_FALSE(kept.Valid());
    EXPECT_EQ(fcntl(raw, F_GETFD), 0);  // still open
    close(raw);
}

}  // namespace
}  // namespace kelvo
