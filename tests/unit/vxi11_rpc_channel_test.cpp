// The RPC connection under the VXI-11 client: its call records, and answers as
// a scripted peer on the other end of a socket pair gives them (in fragments,
// late, refused, too long, cut short, never).
#include <fcntl.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "bus/vxi11/rpc_channel.h"
#include "rpc_peer.h"
#include "vxi11/vxi11.h"

namespace kelvo::vxi11 {
namespace {

using testsupport::Fragments;
using testsupport::Get;
using testsupport::Put;
using testsupport::Words;

std::string Reply(std::uint32_t xid, std::uint32_t error) {
    return instsim::rpc::Reply(xid, instsim::rpc::kSuccess, Put({error}));
}

RpcWait Within(std::uint32_t ms, WaitHook* hook = nullptr) {
    RpcWait wait;
    wait.clientMs = ms;
    if (hook) wait.sliceMs = 1;
    wait.hook = hook;
    return wait;
}

class Vxi11RpcChannel : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        // The channel's side comes non-blocking, as a connection made with a timeout does.
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        peer_ = std::make_unique<testsupport::RpcPeer>(fds[1]);
        channel_ = std::make_unique<RpcChannel>(Fd(fds[0]), DEVICE_CORE, DEVICE_CORE_VERSION);
    }
    void TearDown() override {
        if (thread_.joinable()) thread_.join();
    }

    // The peer reads one call and sends what `answer` makes of its xid.
    void Answer(std::function<std::string(std::uint32_t xid)> answer) {
        thread_ = std::thread([this, answer] {
            call_ = Get(peer_->Next().value_or(""));
            if (!call_.empty()) peer_->Raw(answer(call_[0]));
        });
    }

    // device_trigger, whose answer is a Device_Error.
    RpcOutcome Trigger(Device_Error& answer, const RpcWait& wait = Within(2000)) {
        Device_GenericParms parms{5, 0, 7, 9};
        RpcOutcome outcome = channel_->Call(device_trigger, Xdr<xdr_Device_GenericParms>, &parms,
                                            Xdr<xdr_Device_Error>, &answer, 4096, wait);
        if (thread_.joinable()) thread_.join();
        return outcome;
    }

    std::unique_ptr<testsupport::RpcPeer> peer_;
    std::thread thread_;
    Words call_;
    std::unique_ptr<RpcChannel> channel_;
};

TEST_F(Vxi11RpcChannel, AnswersComeAsThePeerGivesThem) {
    struct Case {
        const char* name;
        std::function<std::string(std::uint32_t xid)> answer;
        RpcResult result;
        std::int32_t error;  // of a successful answer
        bool usable;
        bool tooLong = false;
        bool hangUp = false;  // the peer closes after its answer
    };
    const Case cases[] = {
        {"whole", [](std::uint32_t xid) { return instsim::rpc::Frame(Reply(xid, 4)); }, RpcResult::Success, 4, true},
        {"in many fragments", [](std::uint32_t xid) { return Fragments(Reply(xid, 17), 3); }, RpcResult::Success, 17,
         true},
        {"after a late answer to an earlier call",
         [](std::uint32_t xid) { return instsim::rpc::Frame(Reply(xid - 1, 11)) + instsim::rpc::Frame(Reply(xid, 12)); },
         RpcResult::Success, 12, true},
        {"procedure unavailable",
         [](std::uint32_t xid) { return instsim::rpc::Frame(instsim::rpc::Reply(xid, instsim::rpc::kProcUnavail)); },
         RpcResult::ProcedureUnavailable, 0, true},
        {"program unavailable",
         [](std::uint32_t xid) { return instsim::rpc::Frame(instsim::rpc::Reply(xid, instsim::rpc::kProgUnavail)); },
         RpcResult::ProgramUnavailable, 0, true},
        {"version mismatch",
         [](std::uint32_t xid) { return instsim::rpc::Frame(instsim::rpc::VersionMismatch(xid, 2, 3)); },
         RpcResult::ProgramUnavailable, 0, true},
        {"garbage arguments",
         [](std::uint32_t xid) { return instsim::rpc::Frame(instsim::rpc::Reply(xid, instsim::rpc::kGarbageArgs)); },
         RpcResult::ArgumentsRefused, 0, true},
        {"denied", [](std::uint32_t xid) { return instsim::rpc::Frame(instsim::rpc::RpcMismatch(xid)); },
         RpcResult::Denied, 0, true},
        {"no results to read",
         [](std::uint32_t xid) { return instsim::rpc::Frame(instsim::rpc::Reply(xid, instsim::rpc::kSuccess)); },
         RpcResult::Garbled, 0, false},
        {"no reply", [](std::uint32_t xid) { return instsim::rpc::Frame(Put({xid, 0})); }, RpcResult::Garbled, 0,
         false},
        {"longer than allowed",
         [](std::uint32_t xid) { return instsim::rpc::Frame(Reply(xid, 0) + std::string(8192, '\0')); },
         RpcResult::Garbled, 0, false, true},
        {"cut short", [](std::uint32_t xid) { return Fragments(Reply(xid, 0), 64).substr(0, 20); }, RpcResult::Lost,
         0, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();  // a fresh socket pair for every case
        SetUp();
        Answer([&](std::uint32_t xid) {
            std::string out = c.answer(xid);
            if (c.hangUp) {
                peer_->Raw(out);
                shutdown(peer_->Fd(), SHUT_RDWR);
                out.clear();
            }
            return out;
        });
        Device_Error answer{-1};
        const RpcOutcome outcome = Trigger(answer);
        EXPECT_EQ(outcome.result, c.result);
        if (c.result == RpcResult::Success) {
            EXPECT_EQ(answer.error, c.error);
            // CALL, RPC version 2, program, version, procedure, AUTH_NONE twice;
            // then lid, flags, lock_timeout, io_timeout.
            EXPECT_EQ(Words(call_.begin() + 1, call_.end()),
                      (Words{0, 2, DEVICE_CORE, DEVICE_CORE_VERSION, device_trigger, 0, 0, 0, 0, 5, 0, 7, 9}));
        }
        EXPECT_EQ(outcome.tooLong, c.tooLong);
        EXPECT_EQ(channel_->Usable(), c.usable);
    }
}

// Far more than the socket holds: the call waits for room as the peer reads.
TEST_F(Vxi11RpcChannel, ALongCallGoesOutAsThePeerTakesIt) {
    Answer([](std::uint32_t xid) { return instsim::rpc::Frame(Reply(xid, 0) + Put({1 << 20})); });
    std::string data(1 << 20, 'x');
    Device_WriteParms parms{1, 0, 0, 0, {static_cast<u_int>(data.size()), data.data()}};
    Device_WriteResp answer{};
    const RpcOutcome outcome = channel_->Call(device_write, Xdr<xdr_Device_WriteParms>, &parms,
                                              Xdr<xdr_Device_WriteResp>, &answer, 4096, Within(10000));
    thread_.join();
    EXPECT_EQ(outcome.result, RpcResult::Success);
    EXPECT_EQ(answer.size, 1u << 20);
    EXPECT_EQ(call_.size(), 10 + 5 + (1u << 20) / 4);
}

TEST_F(Vxi11RpcChannel, NoAnswerInTimeKeepsTheChannelForTheNextCall) {
    std::uint32_t firstXid = 0;
    Answer([&](std::uint32_t xid) {
        firstXid = xid;
        return std::string();
    });
    Device_Error answer{};
    EXPECT_EQ(Trigger(answer, Within(30)).result, RpcResult::NoAnswer);
    EXPECT_TRUE(channel_->Usable());
    // The late answer comes before the next call's own.
    Answer([&](std::uint32_t xid) {
        return instsim::rpc::Frame(Reply(firstXid, 1)) + instsim::rpc::Frame(Reply(xid, 2));
    });
    ASSERT_EQ(Trigger(answer).result, RpcResult::Success);
    EXPECT_EQ(answer.error, 2);
}

TEST_F(Vxi11RpcChannel, AnAbortRunsOnStopOnceAndTakesTheAnswerThatFollows) {
    std::atomic<int> stops{0};
    int asked = 0;
    WaitHook hook = [&] { return ++asked >= 2 ? WaitVerdict::Abort : WaitVerdict::Continue; };
    Answer([&](std::uint32_t xid) {
        stops.wait(0);  // the answer comes once the abort was sent
        return instsim::rpc::Frame(Reply(xid, 23));
    });
    RpcWait wait = Within(5000, &hook);
    wait.onStop = [&] {
        ++stops;
        stops.notify_all();
    };
    wait.graceMs = 5000;
    Device_Error answer{};
    const RpcOutcome outcome = Trigger(answer, wait);
    EXPECT_EQ(outcome.result, RpcResult::Success);
    EXPECT_EQ(outcome.verdict, WaitVerdict::Abort);
    EXPECT_FALSE(outcome.cut);
    EXPECT_EQ(answer.error, 23);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(channel_->Usable());
}

TEST_F(Vxi11RpcChannel, AnAbortWithoutAnAbortChannelCutsTheConnection) {
    WaitHook hook = [] { return WaitVerdict::TimeOut; };
    Answer([](std::uint32_t) { return std::string(); });
    Device_Error answer{};
    const RpcOutcome outcome = Trigger(answer, Within(5000, &hook));
    EXPECT_EQ(outcome.result, RpcResult::Lost);
    EXPECT_EQ(outcome.verdict, WaitVerdict::TimeOut);
    EXPECT_TRUE(outcome.cut);
    EXPECT_FALSE(channel_->Usable());
}

}  // namespace
}  // namespace kelvo::vxi11
