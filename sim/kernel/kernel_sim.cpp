// An emulation of the Linux GPIB kernel driver for tests, loaded with LD_PRELOAD
// into a program that uses the driver's real user library: open() of /dev/gpib0
// gives a file whose ioctl() calls are answered here, over the simulated bus and
// instruments of sim/ (the bench in GPIB_SIM_CONFIG, or the built-in one), with
// every bus event appended to GPIB_SIM_TRACE as the simulated library does.
//
// It follows the driver's common part: per open file a table of descriptors
// (handle 0 is the board), EINVAL for an unknown handle, the board mutex that
// I/O ioctls require the caller to hold, CMPL kept per descriptor (cleared while
// a transfer runs, set and cleared through the wait's masks), END on reads,
// ETIMEDOUT at the board's timeout, ECOMM for a write nobody listens to and
// ENOTCONN for command bytes with no device on the bus. A reply is delivered in
// one piece, as the simulated library delivers it, so that both give the same
// bus trace.
//
// The library runs asynchronous transfers in a thread that it cancels to stop
// them; a blocked ioctl here therefore waits in short sleeps with no lock held,
// cancellation enabled only there.
//
// This file must not see <sys/ioctl.h>: glibc declares ioctl() noexcept for C++,
// and a cancelled thread unwinds through it.

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "gpib/bus.h"
#include "kernel/gpib_abi.h"
#include "model/bench.h"

namespace {

using namespace kelvo::kernelsim;
using kelvo::gpibsim::Bus;
using kelvo::gpibsim::TraceLine;
using kelvo::gpibsim::WriteAll;
namespace sim = kelvo::sim;
using Clock = sim::Clock;
using TimePoint = Clock::time_point;

// --- The real C library ------------------------------------------------------

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);
using CloseFn = int (*)(int);
using IoctlFn = int (*)(int, unsigned long, ...);

template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// --- Files and descriptors ---------------------------------------------------

constexpr int kMaxTrackedFd = 4096;
std::atomic<bool> tracked[kMaxTrackedFd];  // fds that are /dev/gpib0

bool IsTracked(int fd) { return fd >= 0 && fd < kMaxTrackedFd && tracked[fd].load(); }

struct Descriptor {
    bool isBoard = false;
    unsigned pad = 0;
    int sad = -1;
    bool ioInProgress = false;
};

struct File {
    std::map<int, Descriptor> descriptors;  // handle -> descriptor
    bool holdingMutex = false;
};

struct Kernel {
    std::mutex mutex;  // the driver's big lock: never held while sleeping
    std::unique_ptr<Bus> bus;
    std::map<int, File> files;  // by fd
    unsigned usecTimeout = 3000000;
    int eos = 0;
    int eosFlags = 0;
    pid_t lockingTid = 0;  // the thread holding the board mutex, 0 when free
    int lockingFd = -1;
    int ppollConfig = 0;
    bool ist = false;
    unsigned t1Delay = 2000;
    bool autospoll = false;
    bool localPpoll = false;
};

// Created on first use and never destroyed: the library may still call in while
// the program exits.
Kernel& K() {
    static Kernel* kernel = new Kernel;
    return *kernel;
}

using Lock = std::unique_lock<std::mutex>;

// --- Trace -------------------------------------------------------------------

void Trace(const char* tag, std::string_view bytes = {}, const char* suffix = "") {
    const char* path = std::getenv("GPIB_SIM_TRACE");
    if (path == nullptr || path[0] == '\0') return;
    const std::string line = TraceLine(tag, bytes, suffix);
    static const OpenFn realOpen = Next<OpenFn>("open");
    static const CloseFn realClose = Next<CloseFn>("close");
    const int fd = realOpen(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    WriteAll(fd, line);
    realClose(fd);
}

// --- Status ------------------------------------------------------------------

// The board's status bits, with CMPL from the descriptor and RQS for a device
// whose instrument requests service; the masks move the descriptor's CMPL.
int Status(Kernel& k, Descriptor* d, int clearMask, int setMask) {
    int status = 0;
    const Bus& bus = *k.bus;
    if (bus.controllerInCharge) status |= kCIC;
    if (bus.attention) status |= kATN;
    if (bus.boardTalker) status |= kTACS;
    if (bus.boardListener) status |= kLACS;
    if (bus.ServiceRequested()) status |= kSRQI;
    if (d != nullptr) {
        if (!d->isBoard) {
            Bus::Device* device = k.bus->At(static_cast<int>(d->pad));
            if (device != nullptr && (device->instrument.statusByte() & 0x40)) status |= kRQS;
        }
        if (setMask & kCMPL)
            d->ioInProgress = false;
        else if (clearMask & kCMPL)
            d->ioInProgress = true;
        if (!d->ioInProgress) status |= kCMPL;
    }
    return status;
}

Descriptor* Handle(Kernel& k, int fd, long handle) {
    if (handle < 0 || handle >= kMaxDescriptors) return nullptr;
    auto file = k.files.find(fd);
    if (file == k.files.end()) return nullptr;
    auto it = file->second.descriptors.find(static_cast<int>(handle));
    return it == file->second.descriptors.end() ? nullptr : &it->second;
}

// --- Blocking ----------------------------------------------------------------

// Cancellation off while the driver's state is touched; on only in Sleep().
class CancelGuard {
public:
    CancelGuard() {
        pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &type_);
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state_);
    }
    ~CancelGuard() {
        pthread_setcancelstate(state_, nullptr);
        pthread_setcanceltype(type_, nullptr);
    }
    CancelGuard(const CancelGuard&) = delete;
    CancelGuard& operator=(const CancelGuard&) = delete;

    // Sleeps up to `until` (at most a millisecond) with the lock released.
    void Sleep(Lock& lock, std::optional<TimePoint> until) const {
        lock.unlock();
        auto wait = std::chrono::microseconds(1000);
        if (until) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(*until - Clock::now());
            if (left < wait) wait = std::max(left, std::chrono::microseconds(0));
        }
        pthread_setcancelstate(state_, nullptr);
        const timespec ts{0, static_cast<long>(wait.count()) * 1000};
        nanosleep(&ts, nullptr);  // a cancellation point
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        lock.lock();
    }

private:
    int type_ = 0;
    int state_ = 0;
};

std::optional<TimePoint> Deadline(unsigned usec) {
    if (usec == 0) return std::nullopt;
    return Clock::now() + std::chrono::microseconds(usec);
}

// --- The ioctls ----------------------------------------------------------------

template <typename T>
T In(void* arg) {
    T value;
    std::memcpy(&value, arg, sizeof value);
    return value;
}

template <typename T>
void Out(void* arg, const T& value) {
    std::memcpy(arg, &value, sizeof value);
}

int OpenDevice(Kernel& k, int fd, void* arg) {
    OpenDev cmd = In<OpenDev>(arg);
    File& file = k.files[fd];
    int handle = 0;
    while (handle < kMaxDescriptors && file.descriptors.count(handle)) ++handle;
    if (handle == kMaxDescriptors) return -ERANGE;
    file.descriptors[handle] = Descriptor{cmd.is_board != 0, cmd.pad, cmd.sad, false};
    cmd.handle = static_cast<__u32>(handle);
    Out(arg, cmd);
    return 0;
}

int CloseDevice(Kernel& k, int fd, void* arg) {
    const CloseDev cmd = In<CloseDev>(arg);
    File& file = k.files[fd];
    auto it = file.descriptors.find(static_cast<int>(cmd.handle));
    if (cmd.handle >= static_cast<unsigned>(kMaxDescriptors) || it == file.descriptors.end()) return -EINVAL;
    // The board descriptor of a program going off line.
    if (it->second.isBoard) Trace("ONL 0");
    file.descriptors.erase(it);
    return 0;
}

int WaitIoctl(Kernel& k, int fd, void* arg, Lock& lock, const CancelGuard& cancel) {
    Wait cmd = In<Wait>(arg);
    if (Handle(k, fd, cmd.handle) == nullptr) return -EINVAL;
    if (cmd.wait_mask == 0) {
        cmd.ibsta = Status(k, Handle(k, fd, cmd.handle), cmd.clear_mask, cmd.set_mask);
        Out(arg, cmd);
        return 0;
    }
    const std::optional<TimePoint> deadline = Deadline(cmd.usec_timeout);
    for (;;) {
        Descriptor* d = Handle(k, fd, cmd.handle);
        if (d == nullptr) return -EINVAL;  // closed meanwhile
        int status = Status(k, d, 0, 0);
        if (deadline && Clock::now() >= *deadline) status |= kTIMO;
        if (status & cmd.wait_mask) {
            cmd.ibsta = status;
            // Only bits being reported are cleared; CMPL is not touched here.
            if ((status & cmd.clear_mask) || cmd.set_mask) Status(k, nullptr, status & cmd.clear_mask, cmd.set_mask);
            Out(arg, cmd);
            return 0;
        }
        cancel.Sleep(lock, deadline);
    }
}

// The I/O ioctls need the board mutex held by the calling thread.
bool HoldsMutex(const Kernel& k) { return k.lockingTid == gettid(); }

int Command(Kernel& k, int fd, void* arg) {
    ReadWrite cmd = In<ReadWrite>(arg);
    if (cmd.completed_transfer_count > cmd.requested_transfer_count) return -EINVAL;
    Descriptor* d = Handle(k, fd, cmd.handle);
    if (d == nullptr) return -EINVAL;
    if (!k.bus->controllerInCharge) return -EINVAL;
    const bool keepInProgress = cmd.end != 0;  // the addressing of an asynchronous read or write
    cmd.end = 0;
    d->ioInProgress = true;
    const std::string_view bytes(reinterpret_cast<const char*>(cmd.buffer_ptr) + cmd.completed_transfer_count,
                                 cmd.requested_transfer_count - cmd.completed_transfer_count);
    int result = 0;
    if (!bytes.empty()) {
        if (!k.bus->HasInstruments()) {
            result = -ENOTCONN;
        } else {
            k.bus->Command(bytes, Clock::now());
            Trace("CMD", bytes);
            cmd.completed_transfer_count = cmd.requested_transfer_count;
        }
    }
    if (!keepInProgress || result < 0) d->ioInProgress = false;
    Out(arg, cmd);
    return result;
}

int WriteIoctl(Kernel& k, int fd, void* arg) {
    ReadWrite cmd = In<ReadWrite>(arg);
    if (cmd.completed_transfer_count > cmd.requested_transfer_count) return -EINVAL;
    Descriptor* d = Handle(k, fd, cmd.handle);
    if (d == nullptr) return -EINVAL;
    d->ioInProgress = true;
    const std::string_view bytes(reinterpret_cast<const char*>(cmd.buffer_ptr) + cmd.completed_transfer_count,
                                 cmd.requested_transfer_count - cmd.completed_transfer_count);
    int result = 0;
    if (!bytes.empty()) {
        if (k.bus->Write(bytes, cmd.end != 0, -1, Clock::now())) {
            Trace("WRT", bytes, cmd.end != 0 ? " EOI" : "");
            cmd.completed_transfer_count = cmd.requested_transfer_count;
        } else {
            result = -ECOMM;  // no listener took the first byte
        }
    }
    d->ioInProgress = false;
    Out(arg, cmd);
    return result;
}

int ReadIoctl(Kernel& k, int fd, void* arg, Lock& lock, const CancelGuard& cancel) {
    ReadWrite cmd = In<ReadWrite>(arg);
    if (cmd.completed_transfer_count > cmd.requested_transfer_count) return -EINVAL;
    Descriptor* d = Handle(k, fd, cmd.handle);
    if (d == nullptr) return -EINVAL;
    char* buffer = reinterpret_cast<char*>(cmd.buffer_ptr) + cmd.completed_transfer_count;
    const std::size_t max = cmd.requested_transfer_count - cmd.completed_transfer_count;
    cmd.end = 0;
    if (max == 0) {
        Out(arg, cmd);
        return 0;
    }
    d->ioInProgress = true;
    const int handle = cmd.handle;
    const std::optional<TimePoint> deadline = Deadline(k.usecTimeout);
    bool first = true;
    int result = 0;
    for (;;) {
        const int eos = (k.eosFlags & kREOS) ? (k.eos & 0xFF) : -1;
        const Bus::ReadResult r = k.bus->Read(buffer, max, eos, (k.eosFlags & kBIN) != 0, first, Clock::now());
        first = false;
        if (r.state == Bus::ReadResult::State::Done) {
            cmd.completed_transfer_count += static_cast<__u32>(r.count);
            cmd.end = (r.eoi || r.eos) ? 1 : 0;
            if (r.count > 0) Trace("RD", std::string_view(buffer, r.count), r.eoi ? " END" : "");
            break;
        }
        if (deadline && Clock::now() >= *deadline) {
            result = -ETIMEDOUT;
            break;
        }
        std::optional<TimePoint> until = deadline;
        if (r.readyAt && (!until || *r.readyAt < *until)) until = r.readyAt;
        cancel.Sleep(lock, until);
        if (Handle(k, fd, handle) == nullptr) return -EINVAL;  // closed meanwhile
    }
    if (Descriptor* again = Handle(k, fd, handle)) again->ioInProgress = false;
    Out(arg, cmd);
    return result;
}

int MutexIoctl(Kernel& k, int fd, void* arg, Lock& lock, const CancelGuard& cancel) {
    const int on = In<int>(arg);
    const pid_t self = gettid();
    if (on) {
        while (k.lockingTid != 0) cancel.Sleep(lock, std::nullopt);
        k.lockingTid = self;
        k.lockingFd = fd;
        k.files[fd].holdingMutex = true;
        return 0;
    }
    if (k.lockingTid != self) return -EPERM;
    k.lockingTid = 0;
    k.lockingFd = -1;
    k.files[fd].holdingMutex = false;
    return 0;
}

int BoardIoctl(Kernel& k, int fd, unsigned long request, void* arg, Lock& lock, const CancelGuard& cancel) {
    Bus& bus = *k.bus;
    switch (request) {
    case IBONL: return 0;  // the board is configured and on line already
    case IBAUTOSPOLL: k.autospoll = In<__s16>(arg) != 0; return 0;
    case IBBOARD_INFO: {
        BoardInfo info{};
        info.pad = static_cast<__u32>(bus.boardAddress);
        info.sad = -1;
        info.parallel_poll_configuration = k.ppollConfig;
        info.autopolling = k.autospoll ? 1 : 0;
        info.is_system_controller = bus.systemController ? 1 : 0;
        info.t1_delay = k.t1Delay;
        info.ist = k.ist ? 1 : 0;
        Out(arg, info);
        return 0;
    }
    case IBMUTEX: return MutexIoctl(k, fd, arg, lock, cancel);
    case IBPAD: {
        const Pad cmd = In<Pad>(arg);
        Descriptor* d = Handle(k, fd, cmd.handle);
        if (d == nullptr) return -EINVAL;
        if (d->isBoard) {
            if (cmd.pad > 30) return -EINVAL;
            bus.boardAddress = static_cast<int>(cmd.pad);
        } else {
            d->pad = cmd.pad;
        }
        return 0;
    }
    case IBSAD: {
        const Sad cmd = In<Sad>(arg);
        Descriptor* d = Handle(k, fd, cmd.handle);
        if (d == nullptr) return -EINVAL;
        if (cmd.sad > 31) return -EINVAL;
        if (!d->isBoard) d->sad = cmd.sad;
        return 0;
    }
    case IBCLOSEDEV: return CloseDevice(k, fd, arg);
    case IBOPENDEV: return OpenDevice(k, fd, arg);
    case IBSPOLL_BYTES: {
        SpollBytes cmd = In<SpollBytes>(arg);
        cmd.num_bytes = 0;  // no autopolling here
        Out(arg, cmd);
        return 0;
    }
    case IBWAIT: return WaitIoctl(k, fd, arg, lock, cancel);
    case IBLINES: {
        // Every line is monitored; the library's listener search looks at NDAC.
        int lines = 0xFF;
        if (bus.HoldsNdac()) lines |= 0x0200;
        if (bus.remoteEnable) lines |= 0x1000;
        if (bus.ServiceRequested()) lines |= 0x2000;
        if (bus.attention) lines |= 0x4000;
        Out<__s16>(arg, static_cast<__s16>(lines));
        return 0;
    }
    case IBLOC: return 0;
    case IBEVENT: Out<__s16>(arg, 0); return 0;
    default: break;
    }

    if (!HoldsMutex(k)) return -EPERM;
    switch (request) {
    case IB_T1_DELAY: k.t1Delay = In<__u32>(arg); return 0;
    case IBCAC:
        if (!bus.controllerInCharge) return -EINVAL;
        bus.attention = true;
        return 0;
    case IBCMD: return Command(k, fd, arg);
    case IBEOS: {
        const Eos cmd = In<Eos>(arg);
        if (cmd.eos_flags & ~kEosMask) return -EINVAL;
        k.eos = cmd.eos;
        k.eosFlags = cmd.eos_flags;
        return 0;
    }
    case IBGTS:
        if (!bus.controllerInCharge) return -EINVAL;
        bus.attention = false;
        return 0;
    case IBPPC: {
        const PpollConfig cmd = In<PpollConfig>(arg);
        if (cmd.set_ist) k.ist = true;
        if (cmd.clear_ist) k.ist = false;
        if (cmd.config) k.ppollConfig = cmd.config & 0x1f;
        return 0;
    }
    case IBPP2_SET: k.localPpoll = In<__s16>(arg) != 0; return 0;
    case IBPP2_GET: Out<__s16>(arg, k.localPpoll ? 1 : 0); return 0;
    case IBQUERY_BOARD_RSV: Out<__s32>(arg, 0); return 0;
    case IBRD: return ReadIoctl(k, fd, arg, lock, cancel);
    case IBRPP: {
        if (!bus.controllerInCharge) return -EINVAL;
        const char byte = static_cast<char>(bus.ParallelPoll());
        Out<__u8>(arg, static_cast<__u8>(byte));
        Trace("RPP", std::string_view(&byte, 1));
        return 0;
    }
    case IBRSC:
        bus.systemController = In<__s32>(arg) != 0;
        if (!bus.systemController) bus.controllerInCharge = false;
        return 0;
    case IBRSV: return -EINVAL;  // the board is the controller in charge
    case IBSIC:
        if (!bus.systemController) return -EINVAL;
        bus.InterfaceClear();
        Trace("IFC");
        return 0;
    case IBSRE: {
        if (!bus.systemController) return -EINVAL;
        const bool on = In<__s32>(arg) != 0;
        bus.SetRemoteEnable(on);
        Trace(on ? "REN 1" : "REN 0");
        return 0;
    }
    case IBTMO: k.usecTimeout = In<__u32>(arg); return 0;
    case IBWRT: return WriteIoctl(k, fd, arg);
    default: return -ENOTTY;
    }
}

// The bench, loaded when the first file is opened.
bool EnsureBench(Kernel& k) {
    if (k.bus) return true;
    const char* path = std::getenv("GPIB_SIM_CONFIG");
    try {
        const sim::Bench bench = (path != nullptr && path[0] != '\0')
                                     ? sim::LoadBenchFile(path)
                                     : sim::ParseBench(sim::DefaultBenchText(), "built-in bench");
        k.bus = std::make_unique<Bus>(bench);
    } catch (const sim::BenchError& e) {
        std::fprintf(stderr, "gpib-kernel-sim: %s\n", e.what());
        return false;
    }
    return true;
}

// The board number of a /dev/gpibN path, or -1.
int Minor(const char* path) {
    if (path == nullptr || std::strncmp(path, "/dev/gpib", 9) != 0) return -1;
    const char* digits = path + 9;
    if (*digits < '0' || *digits > '9') return -1;
    char* end = nullptr;
    const long minor = std::strtol(digits, &end, 10);
    return (*end == '\0' && minor < kMaxBoards) ? static_cast<int>(minor) : -1;
}

int OpenGpib(int minor, int flags) {
    // Only board 0 is there: the others have no device file.
    if (minor != 0) {
        errno = ENOENT;
        return -1;
    }
    static const OpenFn realOpen = Next<OpenFn>("open");
    const CancelGuard cancel;
    Lock lock(K().mutex);
    if (!EnsureBench(K())) {
        errno = ENODEV;
        return -1;
    }
    const int fd = realOpen("/dev/null", (flags & O_CLOEXEC) | O_RDWR);
    if (fd < 0) return -1;
    if (fd >= kMaxTrackedFd) {
        Next<CloseFn>("close")(fd);
        errno = EMFILE;
        return -1;
    }
    File& file = K().files[fd];
    file = File{};
    file.descriptors[0] = Descriptor{true, 0, -1, false};
    tracked[fd] = true;
    return fd;
}

void CloseGpib(int fd) {
    const CancelGuard cancel;
    Lock lock(K().mutex);
    Kernel& k = K();
    if (k.lockingFd == fd) {
        k.lockingTid = 0;
        k.lockingFd = -1;
    }
    k.files.erase(fd);
    tracked[fd] = false;
}

int Ioctl(int fd, unsigned long request, void* arg) {
    const CancelGuard cancel;
    Lock lock(K().mutex);
    if (arg == nullptr && request != IBGTS && request != IBLOC) {
        errno = EFAULT;
        return -1;
    }
    const int result = BoardIoctl(K(), fd, request, arg, lock, cancel);
    if (result < 0) {
        errno = -result;
        return -1;
    }
    return result;
}

int OpenFlagsMode(int flags, va_list ap) { return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(ap, int) : 0; }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int mode = OpenFlagsMode(flags, ap);
    va_end(ap);
    const int minor = Minor(path);
    if (minor >= 0) return OpenGpib(minor, flags);
    static const OpenFn realOpen = Next<OpenFn>("open");
    return realOpen(path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int mode = OpenFlagsMode(flags, ap);
    va_end(ap);
    const int minor = Minor(path);
    if (minor >= 0) return OpenGpib(minor, flags);
    static const OpenFn realOpen64 = Next<OpenFn>("open64");
    return realOpen64(path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int dirfd, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const int mode = OpenFlagsMode(flags, ap);
    va_end(ap);
    const int minor = Minor(path);
    if (minor >= 0) return OpenGpib(minor, flags);
    static const OpenatFn realOpenat = Next<OpenatFn>("openat");
    return realOpenat(dirfd, path, flags, mode);
}

__attribute__((visibility("default"))) int close(int fd) {
    if (IsTracked(fd)) CloseGpib(fd);
    static const CloseFn realClose = Next<CloseFn>("close");
    return realClose(fd);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (IsTracked(fd)) return Ioctl(fd, request, arg);
    static const IoctlFn realIoctl = Next<IoctlFn>("ioctl");
    return realIoctl(fd, request, arg);
}

}  // extern "C"
