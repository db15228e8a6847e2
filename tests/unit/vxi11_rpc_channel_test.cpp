// The RPC connection under the VXI-11 client: its call records, and answers as
// a scripted peer on the other end of a socket pair gives them (in fragments,
// late, refused, too long, cut short, never).
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bus/vxi11/rpc_channel.h"
#include "vxi11/vxi11.h"

namespace kelvo::vxi11 {
namespace {

using namespace std::chrono_literals;

template <class Fn>
xdrproc_t Xdr(Fn* fn) {
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(fn));
}

std::vector<unsigned char> Words(std::initializer_list<std::uint32_t> words) {
    std::vector<unsigned char> bytes;
    for (const std::uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<unsigned char>(w >> shift));
    return bytes;
}

std::uint32_t WordAt(const std::vector<unsigned char>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

void WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

bool ReadAll(int fd, unsigned char* into, std::size_t size) {
    while (size > 0) {
        const ssize_t n = recv(fd, into, size, 0);
        if (n <= 0) return false;
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One whole call record as the peer reads it.
std::vector<unsigned char> ReadCall(int fd) {
    std::vector<unsigned char> record;
    for (;;) {
        unsigned char mark[4];
        if (!ReadAll(fd, mark, 4)) return {};
        const std::uint32_t word = WordAt(std::vector<unsigned char>(mark, mark + 4), 0);
        const std::size_t at = record.size();
        record.resize(at + (word & 0x7FFFFFFF));
        if (!ReadAll(fd, record.data() + at, word & 0x7FFFFFFF)) return {};
        if (word & 0x80000000u) return record;
    }
}

// An accepted, successful reply to `xid` whose results are `results`, in
// fragments of at most `fragment` bytes.
std::vector<unsigned char> Reply(std::uint32_t xid, const std::vector<unsigned char>& results,
                                 std::size_t fragment = 1 << 20, std::uint32_t acceptStat = 0) {
    std::vector<unsigned char> body = Words({xid, 1, 0, 0, 0, acceptStat});
    body.insert(body.end(), results.begin(), results.end());
    std::vector<unsigned char> out;
    for (std::size_t at = 0; at < body.size(); at += fragment) {
        const std::size_t n = std::min(fragment, body.size() - at);
        const bool last = at + n == body.size();
        const std::vector<unsigned char> mark = Words({(last ? 0x80000000u : 0u) | static_cast<std::uint32_t>(n)});
        out.insert(out.end(), mark.begin(), mark.end());
        out.insert(out.end(), body.begin() + static_cast<long>(at), body.begin() + static_cast<long>(at + n));
    }
    return out;
}

RpcWait Within(std::uint32_t ms) {
    RpcWait wait;
    wait.clientMs = ms;
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
    void Answer(std::function<std::vector<unsigned char>(std::uint32_t xid, const std::vector<unsigned char>& call)>
                    answer) {
        peer_thread_ = std::thread([this, answer] {
            const std::vector<unsigned char> call = ReadCall(peer_);
            if (call.size() < 40) return;
            lastCall_ = call;
            WriteAll(peer_, answer(WordAt(call, 0), call));
        });
    }

    // device_trigger's Device_Error answer: `error`.
    RpcOutcome Trigger(Device_Error& answer, const RpcWait& wait = Within(2000)) {
        Device_GenericParms parms{};
        parms.lid = 5;
        parms.flags = 0;
        parms.lock_timeout = 7;
        parms.io_timeout = 9;
        RpcOutcome outcome = channel_->Call(device_trigger, Xdr(xdr_Device_GenericParms), &parms,
                                            Xdr(xdr_Device_Error), &answer, 4096, wait);
        if (peer_thread_.joinable()) peer_thread_.join();
        return outcome;
    }

    int peer_ = -1;
    std::thread peer_thread_;
    std::vector<unsigned char> lastCall_;
    std::unique_ptr<RpcChannel> channel_;
};

TEST_F(Vxi11RpcChannel, TheCallRecordCarriesTheHeaderAndTheArguments) {
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) { return Reply(xid, Words({0})); });
    Device_Error answer{99};
    const RpcOutcome outcome = Trigger(answer);
    ASSERT_EQ(outcome.result, RpcResult::Success);
    EXPECT_EQ(answer.error, 0);
    ASSERT_EQ(lastCall_.size(), 40u + 16u);
    // CALL, RPC version 2, program, version, procedure, AUTH_NONE twice.
    const std::vector<std::uint32_t> header{0, 2, DEVICE_CORE, DEVICE_CORE_VERSION, device_trigger, 0, 0, 0, 0};
    for (std::size_t i = 0; i < header.size(); ++i) EXPECT_EQ(WordAt(lastCall_, 4 + 4 * i), header[i]) << i;
    EXPECT_EQ(WordAt(lastCall_, 40), 5u);   // lid
    EXPECT_EQ(WordAt(lastCall_, 44), 0u);   // flags
    EXPECT_EQ(WordAt(lastCall_, 48), 7u);   // lock_timeout
    EXPECT_EQ(WordAt(lastCall_, 52), 9u);   // io_timeout
    EXPECT_TRUE(channel_->Usable());
}

TEST_F(Vxi11RpcChannel, AnAnswerInManyFragmentsIsJoined) {
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) { return Reply(xid, Words({17}), 3); });
    Device_Error answer{};
    const RpcOutcome outcome = Trigger(answer);
    ASSERT_EQ(outcome.result, RpcResult::Success);
    EXPECT_EQ(answer.error, 17);
}

TEST_F(Vxi11RpcChannel, ALateAnswerToAnEarlierCallIsPassedOver) {
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) {
        std::vector<unsigned char> out = Reply(xid - 1, Words({11}));
        const std::vector<unsigned char> mine = Reply(xid, Words({12}));
        out.insert(out.end(), mine.begin(), mine.end());
        return out;
    });
    Device_Error answer{};
    ASSERT_EQ(Trigger(answer).result, RpcResult::Success);
    EXPECT_EQ(answer.error, 12);
}

TEST_F(Vxi11RpcChannel, RefusalsAreToldApartAndLeaveTheChannelUsable) {
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) { return Reply(xid, {}, 1 << 20, 3); });
    Device_Error answer{};
    EXPECT_EQ(Trigger(answer).result, RpcResult::ProcedureUnavailable);
    EXPECT_TRUE(channel_->Usable());
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) { return Reply(xid, {}, 1 << 20, 1); });
    EXPECT_EQ(Trigger(answer).result, RpcResult::ProgramUnavailable);
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) {
        std::vector<unsigned char> body = Words({xid, 1, 1, 1, 0});  // MSG_DENIED, AUTH_ERROR
        std::vector<unsigned char> out = Words({0x80000000u | static_cast<std::uint32_t>(body.size())});
        out.insert(out.end(), body.begin(), body.end());
        return out;
    });
    EXPECT_EQ(Trigger(answer).result, RpcResult::Denied);
    EXPECT_TRUE(channel_->Usable());
}

TEST_F(Vxi11RpcChannel, AnAnswerLongerThanAllowedIsRefusedUnread) {
    Answer([](std::uint32_t xid, const std::vector<unsigned char>&) {
        return Reply(xid, std::vector<unsigned char>(8192, 0));
    });
    Device_Error answer{};
    const RpcOutcome outcome = Trigger(answer);
    EXPECT_EQ(outcome.result, RpcResult::Garbled);
    EXPECT_TRUE(outcome.tooLong);
    EXPECT_FALSE(channel_->Usable());
}

TEST_F(Vxi11RpcChannel, AConnectionClosedHalfwayIsLost) {
    Answer([this](std::uint32_t xid, const std::vector<unsigned char>&) {
        std::vector<unsigned char> out = Reply(xid, Words({0}));
        out.resize(out.size() - 2);
        WriteAll(peer_, out);
        shutdown(peer_, SHUT_RDWR);
        return std::vector<unsigned char>{};
    });
    Device_Error answer{};
    EXPECT_EQ(Trigger(answer).result, RpcResult::Lost);
    EXPECT_FALSE(channel_->Usable());
}

TEST_F(Vxi11RpcChannel, NoAnswerInTimeKeepsTheChannelForTheNextCall) {
    std::uint32_t firstXid = 0;
    Answer([&](std::uint32_t xid, const std::vector<unsigned char>&) {
        firstXid = xid;
        return std::vector<unsigned char>{};
    });
    Device_Error answer{};
    RpcWait quick;
    quick.clientMs = 30;
    EXPECT_EQ(Trigger(answer, quick).result, RpcResult::NoAnswer);
    EXPECT_TRUE(channel_->Usable());
    // The late answer comes before the next call's own.
    Answer([&](std::uint32_t xid, const std::vector<unsigned char>&) {
        std::vector<unsigned char> out = Reply(firstXid, Words({1}));
        const std::vector<unsigned char> mine = Reply(xid, Words({2}));
        out.insert(out.end(), mine.begin(), mine.end());
        return out;
    });
    ASSERT_EQ(Trigger(answer).result, RpcResult::Success);
    EXPECT_EQ(answer.error, 2);
}

TEST_F(Vxi11RpcChannel, AnAbortRunsOnStopOnceAndTakesTheAnswerThatFollows) {
    std::atomic<int> stops{0};
    int asked = 0;
    WaitHook hook = [&] { return ++asked >= 2 ? WaitVerdict::Abort : WaitVerdict::Continue; };
    Answer([&](std::uint32_t xid, const std::vector<unsigned char>&) {
        stops.wait(0);  // the answer comes once the abort was sent
        return Reply(xid, Words({23}));
    });
    RpcWait wait;
    wait.clientMs = 5000;
    wait.sliceMs = 1;
    wait.hook = &hook;
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
    Answer([](std::uint32_t, const std::vector<unsigned char>&) { return std::vector<unsigned char>{}; });
    RpcWait wait;
    wait.clientMs = 5000;
    wait.sliceMs = 1;
    wait.hook = &hook;
    Device_Error answer{};
    const RpcOutcome outcome = Trigger(answer, wait);
    EXPECT_EQ(outcome.result, RpcResult::Lost);
    EXPECT_EQ(outcome.verdict, WaitVerdict::TimeOut);
    EXPECT_TRUE(outcome.cut);
    EXPECT_FALSE(channel_->Usable());
}

}  // namespace
}  // namespace kelvo::vxi11
