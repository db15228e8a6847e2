// The RPC connection under the VXI-11 client: its call records, and answers as
// a scripted peer on the other end of a socket pair gives them (in fragments,
// late, refused, too long, cut short, never).
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bus/vxi11/rpc_channel.h"
#include "unit/vxi11_wire.h"

namespace kelvo::vxi11 {
namespace {

using namespace std::chrono_literals;
using namespace wire;

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
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds), 0);
        peer_ = fds[1];
        // The peer side blocks; the channel's side stays non-blocking.
        fcntl(peer_, F_SETFL, fcntl(peer_, F_GETFL) & ~O_NONBLOCK);
        channel_ = std::make_unique<RpcChannel>(Fd(fds[0]), DEVICE_CORE, DEVICE_CORE_VERSION);
    }
    void TearDown() override {
        if (peer_thread_.joinable()) peer_thread_.join();
        if (peer_ >= 0) close(peer_);
    }

    // The peer reads one call and answers with what `answer` makes of its xid.
    void Answer(std::function<Bytes(std::uint32_t xid)> answer) {
        peer_thread_ = std::thread([this, answer] {
            lastCall_ = ReadRecord(peer_);
            if (lastCall_.size() >= 40) SendAll(peer_, answer(WordAt(lastCall_, 0)));
        });
    }

    // device_trigger, whose answer is a Device_Error.
    RpcOutcome Trigger(Device_Error& answer, const RpcWait& wait = Within(2000)) {
        Device_GenericParms parms{5, 0, 7, 9};
        RpcOutcome outcome = channel_->Call(device_trigger, Xdr(xdr_Device_GenericParms), &parms,
                                            Xdr(xdr_Device_Error), &answer, 4096, wait);
        if (peer_thread_.joinable()) peer_thread_.join();
        return outcome;
    }

    int peer_ = -1;
    std::thread peer_thread_;
    Bytes lastCall_;
    std::unique_ptr<RpcChannel> channel_;
};

TEST_F(Vxi11RpcChannel, TheCallRecordCarriesTheHeaderAndTheArguments) {
    Answer([](std::uint32_t xid) { return Reply(xid, Words({0})); });
    Device_Error answer{99};
    ASSERT_EQ(Trigger(answer).result, RpcResult::Success);
    EXPECT_EQ(answer.error, 0);
    // CALL, RPC version 2, program, version, procedure, AUTH_NONE twice; then
    // lid, flags, lock_timeout, io_timeout.
    const Bytes expected = Words({0, 2, DEVICE_CORE, DEVICE_CORE_VERSION, device_trigger, 0, 0, 0, 0, 5, 0, 7, 9});
    EXPECT_EQ(Bytes(lastCall_.begin() + 4, lastCall_.end()), expected);
    EXPECT_TRUE(channel_->Usable());
}

TEST_F(Vxi11RpcChannel, AnswersComeAsThePeerGivesThem) {
    struct Case {
        const char* name;
        std::function<Bytes(std::uint32_t xid)> answer;
        RpcResult result;
        std::int32_t error;  // of a successful answer
        bool usable;
        bool tooLong = false;
    };
    const Case cases[] = {
        {"in many fragments", [](std::uint32_t xid) { return Reply(xid, Words({17}), 3); }, RpcResult::Success, 17,
         true},
        {"after a late answer to an earlier call",
         [](std::uint32_t xid) { return Reply(xid - 1, Words({11})) + Reply(xid, Words({12})); }, RpcResult::Success,
         12, true},
        {"procedure unavailable", [](std::uint32_t xid) { return Reply(xid, {}, 1 << 20, 3); },
         RpcResult::ProcedureUnavailable, 0, true},
        {"program unavailable", [](std::uint32_t xid) { return Reply(xid, {}, 1 << 20, 1); },
         RpcResult::ProgramUnavailable, 0, true},
        {"denied", [](std::uint32_t xid) { return Words({0x80000014u, xid, 1, 1, 1, 0}); },  // MSG_DENIED, AUTH_ERROR
         RpcResult::Denied, 0, true},
        {"longer than allowed", [](std::uint32_t xid) { return Reply(xid, Bytes(8192, 0)); }, RpcResult::Garbled, 0,
         false, true},
        {"cut short", [](std::uint32_t xid) {
             Bytes out = Reply(xid, Words({0}));
             out.resize(out.size() - 2);
             return out;
         }, RpcResult::Lost, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();  // a fresh socket pair for every case
        SetUp();
        Answer([&](std::uint32_t xid) {
            Bytes out = c.answer(xid);
            if (c.result == RpcResult::Lost) {
                SendAll(peer_, out);
                shutdown(peer_, SHUT_RDWR);
                out.clear();
            }
            return out;
        });
        Device_Error answer{-1};
        const RpcOutcome outcome = Trigger(answer);
        EXPECT_EQ(outcome.result, c.result);
        if (c.result == RpcResult::Success) {
            EXPECT_EQ(answer.error, c.error);
        }
        EXPECT_EQ(outcome.tooLong, c.tooLong);
        EXPECT_EQ(channel_->Usable(), c.usable);
    }
}

TEST_F(Vxi11RpcChannel, NoAnswerInTimeKeepsTheChannelForTheNextCall) {
    std::uint32_t firstXid = 0;
    Answer([&](std::uint32_t xid) {
        firstXid = xid;
        return Bytes{};
    });
    Device_Error answer{};
    EXPECT_EQ(Trigger(answer, Within(30)).result, RpcResult::NoAnswer);
    EXPECT_TRUE(channel_->Usable());
    // The late answer comes before the next call's own.
    Answer([&](std::uint32_t xid) { return Reply(firstXid, Words({1})) + Reply(xid, Words({2})); });
    ASSERT_EQ(Trigger(answer).result, RpcResult::Success);
    EXPECT_EQ(answer.error, 2);
}

TEST_F(Vxi11RpcChannel, AnAbortRunsOnStopOnceAndTakesTheAnswerThatFollows) {
    std::atomic<int> stops{0};
    int asked = 0;
    WaitHook hook = [&] { return ++asked >= 2 ? WaitVerdict::Abort : WaitVerdict::Continue; };
    Answer([&](std::uint32_t xid) {
        stops.wait(0);  // the answer comes once the abort was sent
        return Reply(xid, Words({23}));
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
    Answer([](std::uint32_t) { return Bytes{}; });
    Device_Error answer{};
    const RpcOutcome outcome = Trigger(answer, Within(5000, &hook));
    EXPECT_EQ(outcome.result, RpcResult::Lost);
    EXPECT_EQ(outcome.verdict, WaitVerdict::TimeOut);
    EXPECT_TRUE(outcome.cut);
    EXPECT_FALSE(channel_->Usable());
}

}  // namespace
}  // namespace kelvo::vxi11
