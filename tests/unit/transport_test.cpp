// The ways of reaching an instrument as the commands see them: which one the
// settings select, what each offers, and how long a raw connection lives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bus/bus_connections.h"
#include "bus/unique_fd.h"
#include "script/command_cycle.h"
#include "script/command_language.h"
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
    int peer_ = -1;
};

TEST_F(TransportTest, TheSettingsSelectTheWayAndItsCapabilities) {
    struct Case {
        BusProtocol protocol;
        LanProtocol lan;
        Transport* way;
        Capability capabilities;
    };
    const Case cases[] = {
        {BusProtocol::Gpib, LanProtocol::Vxi11, &s.Connections().Gpib(), kAllCapabilities},
        {BusProtocol::TcpIp, LanProtocol::Greeting, &s.Connections().TcpIp(), Capability::None},
        {BusProtocol::TcpIp, LanProtocol::Raw, &s.Connections().TcpIp(), Capability::None},
        {BusProtocol::TcpIp, LanProtocol::Vxi11, &s.Connections().Vxi11(),
         Capability::SerialPoll | Capability::Trigger | Capability::DeviceClear | Capability::GoToLocal |
             Capability::RemoteEnable},
    };
    for (const Case& c : cases) {
        s.Settings.Protocol = c.protocol;
        s.Settings.Lan = c.lan;
        EXPECT_EQ(&SelectedTransport(s), c.way);
        EXPECT_EQ(ConnectionCapabilities(s), c.capabilities);
    }
    EXPECT_EQ(std::vector<Transport*>(AllTransports(s).begin(), AllTransports(s).end()),
              (std::vector<Transport*>{&s.Connections().Gpib(), &s.Connections().TcpIp(), &s.Connections().Vxi11()}));
}

TEST_F(TransportTest, AGatewayInterfaceNameTakesTheCommandsAddress) {
    EXPECT_EQ(Vxi11Transport::DeviceFor("inst0", 5), "inst0");
    EXPECT_EQ(Vxi11Transport::DeviceFor("gpib0", 5), "gpib0,5");
    EXPECT_EQ(Vxi11Transport::DeviceFor("gpib1", 12), "gpib1,12");
    EXPECT_EQ(Vxi11Transport::DeviceFor("gpib0,9", 5), "gpib0,9");
    EXPECT_EQ(Vxi11Transport::DeviceFor("GPIB0", 7), "GPIB0,7");
    EXPECT_EQ(Vxi11Transport::DeviceFor("gpib", 7), "gpib");
}

// Each session keeps its own: another instrument for one ends its connection only.
TEST_F(TransportTest, ARawConnectionOutlivesTheLineUntilItsSessionsSettingsChange) {
    Console otherConsole{host};
    Session other{otherConsole, host};
    int otherPeer = -1;
    for (Session* session : {&s, &other}) {
        session->Settings.Protocol = BusProtocol::TcpIp;
        session->Settings.Lan = LanProtocol::Raw;
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        AdoptConnection(*session, fds[0]);
        (session == &s ? peer_ : otherPeer) = fds[1];
        session->Connections().TcpIp().state.openedFor = session->Settings;
    }
    EXPECT_NE(&SelectedTransport(other), &SelectedTransport(s));
    EXPECT_NE(&other.Connections().Vxi11(), &s.Connections().Vxi11());
    Transport& bus = SelectedTransport(s);
    EXPECT_EQ(bus.BeginLine(), 0);
    bus.EndLine();
    EXPECT_EQ(bus.BeginLine(), 0);
    EXPECT_TRUE(ConnectionOpen(s));
    other.Settings.TcpPort = 5026;  // another instrument
    EXPECT_EQ(SelectedTransport(other).BeginLine(), 0);
    EXPECT_FALSE(ConnectionOpen(other));
    EXPECT_EQ(bus.BeginLine(), 0);
    EXPECT_TRUE(ConnectionOpen(s));
    s.Settings.TcpPort = 5026;
    EXPECT_EQ(bus.BeginLine(), 0);
    EXPECT_FALSE(ConnectionOpen(s));
    close(otherPeer);
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

// ESC is heard between the addresses of a GPIB search, not only while one answers.
TEST_F(TransportTest, EscEndsAGpibSearchBetweenTheAddresses) {
    setenv("KELVO_GPIB_LIBRARY", KELVO_FAKE_GPIB_PATH, 1);  // nobody listens
    s.Settings.Protocol = BusProtocol::Gpib;
    int pumps = 0;
    host.onPump = [&] {
        if (++pumps == 3) {
            EXPECT_TRUE(DeliverInterrupt(s, Interrupt::Escape));
        }
    };
    PreparedLine line;
    ASSERT_TRUE(PrepareLine("FIND", line));
    RunCommandLine(s, line);
    unsetenv("KELVO_GPIB_LIBRARY");
    host.onPump = nullptr;
    EXPECT_EQ(Display(), (std::vector<std::string>{"Terminated from keyboard after 0.01 seconds",
                                                    "0 instruments found, 0.01 seconds"}));
    EXPECT_EQ(host.beeps, unit::Beeps{unit::kErrorBeep});
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
