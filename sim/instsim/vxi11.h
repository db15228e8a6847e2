// The VXI-11 side of kelvo-instsim: for each host, a core channel (links,
// writes, reads, status byte, trigger, clear, remote/local, locks), an abort
// channel (device_abort ends a read under way), and a portmapper that tells
// clients where the core channel listens. Everything runs in the server's one
// poll loop: a call that must wait (a read for the instrument's reply, a lock
// held by another link) is parked on its connection and finished when the
// instrument is ready, the lock comes free, the abort arrives or time runs out.
#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "instsim/rpc.h"
#include "instsim/server.h"
#include "instsim/trace.h"
#include "model/instrument.h"

namespace kelvo::instsim {

namespace vxi11 {
constexpr std::uint32_t kCoreProgram = 0x0607AF;
constexpr std::uint32_t kAbortProgram = 0x0607B0;
constexpr std::uint32_t kInterruptProgram = 0x0607B1;
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kPortmapProgram = 100000;
constexpr std::uint32_t kMaxRecvSize = 1u << 20;
}  // namespace vxi11

class Vxi11Service {
public:
    Vxi11Service(const Settings& settings, const Trace& trace) : settings_(settings), trace_(trace) {}
    ~Vxi11Service();
    Vxi11Service(const Vxi11Service&) = delete;
    Vxi11Service& operator=(const Vxi11Service&) = delete;

    // Opens the listening sockets of every VXI-11 endpoint; adds a line per
    // socket to `lines`. False, with the reason on standard error, on failure.
    bool Start(const std::vector<Endpoint>& endpoints, std::vector<std::string>& lines);

    // Adds what to wait for; `wakeAt` is told when a parked call is due.
    void Fill(std::vector<pollfd>& fds, const std::function<void(sim::Clock::time_point)>& wakeAt) const;
    // Handles what the poll reported for the entries Fill added.
    void Handle(const pollfd* fds, std::size_t count);

private:
    struct Device {
        std::string name;
        std::unique_ptr<sim::Instrument> instrument;
        int lockedBy = 0;  // the link holding the lock, or 0
        bool remote = false;
    };
    struct Host {
        in_addr address{};
        std::vector<Device> devices;
        unsigned short corePort = 0;
        unsigned short abortPort = 0;
    };
    enum class Role { Core, Abort, Portmap };
    struct Listener {
        int fd = -1;
        Role role = Role::Core;
        Host* host = nullptr;
        bool datagram = false;  // the portmapper's UDP socket
    };
    struct Pending {
        std::uint32_t xid = 0;
        std::uint32_t procedure = 0;
        std::string args;
        std::optional<sim::Clock::time_point> lockDeadline;
        std::optional<sim::Clock::time_point> ioDeadline;
        bool aborted = false;
        int link = 0;  // the link it works on, for device_abort
    };
    struct Connection {
        int fd = -1;
        Role role = Role::Core;
        Host* host = nullptr;
        rpc::RecordReader in{vxi11::kMaxRecvSize + 4096};
        std::string out;
        std::size_t sent = 0;
        std::optional<Pending> pending;
        bool interruptChannel = false;
        bool peerDone = false;
    };
    struct Link {
        Connection* owner = nullptr;
        Device* device = nullptr;
    };

    void Accept(const Listener& l);
    void Datagram(const Listener& l);
    void Read(Connection& c);
    void Write(Connection& c);
    void Close(Connection& c);
    // Runs the calls that arrived, in order, until one must wait.
    void Work(Connection& c);
    // The whole reply to a call, or nothing when it is parked on the connection.
    std::optional<std::string> Dispatch(Connection& c, const rpc::Call& call);
    std::string Portmap(const Host& host, const rpc::Call& call) const;
    std::optional<std::string> Core(Connection& c, Pending& p);
    std::string Abort(const rpc::Call& call);
    // The lock check of an operation: 0 to go on, an error to answer, or -1 to wait.
    int LockCheck(const Link& link, int lid, std::uint32_t flags, std::uint32_t lockTimeoutMs, Pending& p) const;
    void DropLink(int lid, const char* why);

    const Settings& settings_;
    const Trace& trace_;
    std::list<Host> hosts_;
    std::vector<Listener> listeners_;
    std::list<Connection> connections_;
    std::map<int, Link> links_;
    int nextLink_ = 1;
    std::string readBuffer_;  // what a read takes from the instrument
    bool registered_ = false;  // with a running portmapper, to be withdrawn at the end
};

}  // namespace kelvo::instsim
