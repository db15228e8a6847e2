#include "bus/gpib_driver.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace kelvo {
namespace {

enum Op {
    kIbfind, kIbfindA, kIbpad, kIbsad, kIbtmo, kIbeos, kIbeot, kIbconfig, kIbrsc, kIbdma, kIbsic,
    kIbsre, kIbonl, kIbcmda, kIbwrta, kIbrda, kIbrd, kIbrpp, kIbwait, kIbstop, kIbln, kOpCount
};

const char* const kOpNames[kOpCount] = {
    "ibfind", "ibfindA", "ibpad", "ibsad", "ibtmo", "ibeos", "ibeot", "ibconfig", "ibrsc", "ibdma",
    "ibsic",  "ibsre",   "ibonl", "ibcmda", "ibwrta", "ibrda", "ibrd", "ibrpp", "ibwait", "ibstop",
    "ibln",
};

// ibconfig options that stand in for operations a driver offers only that way.
constexpr int kIbcPad = 0x0001;
constexpr int kIbcSad = 0x0002;
constexpr int kIbcTmo = 0x0003;
constexpr int kIbcEot = 0x0004;
constexpr int kIbcSc = 0x000A;
constexpr int kIbcSre = 0x000B;
constexpr int kIbcEosRd = 0x000C;
constexpr int kIbcEosWrt = 0x000D;
constexpr int kIbcEosCmp = 0x000E;
constexpr int kIbcEosChar = 0x000F;
constexpr int kIbcDma = 0x0012;

constexpr int kCmplMask = 0x0100;

using IntFn = int (*)();
using LongFn = long (*)();
using UdInt = int (*)(int, int);
using Ud = int (*)(int);
using UdInt2 = int (*)(int, int, int);
using UdConstBuf = int (*)(int, const void*, long);
using UdBuf = int (*)(int, void*, long);
using UdChar = int (*)(int, char*);

// Owner of a library opened with dlopen: closed when the owner ends. Libraries
// are opened with RTLD_NODELETE, so closing one only lets go of it: it stays
// mapped until the process ends (its threads and the memory its globals point
// to may outlive the binding, and another session may use it too).
struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

// The Linux GPIB driver's library, then National Instruments' NI-488.2 for Linux.
const char* const kCandidates[] = {
    "libgpib.so.0", "libni4882.so.1", "libni4882.so", "libgpibapi.so.0", "libgpibapi.so",
};

}  // namespace

// The loaded library and what was found in it.
struct GpibDriver::Library {
    LibraryHandle handle;
    std::string name;
    bool linuxGpib = false;
    void* ops[kOpCount] = {};
    bool looked[kOpCount] = {};
    IntFn threadIbsta = nullptr;
    IntFn threadIberr = nullptr;
    LongFn threadIbcntl = nullptr;
    IntFn threadIbcnt = nullptr;
    volatile int* varIbsta = nullptr;
    volatile int* varIberr = nullptr;
    volatile long* varIbcntl = nullptr;
};

GpibDriver::GpibDriver() = default;
GpibDriver::~GpibDriver() = default;

void GpibDriver::Fail(std::int32_t systemError) {
    status_.ibsta = kStatusErr;
    status_.iberr = kErrDos;
    status_.ibcntl = systemError;
}

bool GpibDriver::Load() {
    if (library_ != nullptr) return true;
    const char* chosen = std::getenv("KELVO_GPIB_LIBRARY");
    const char* const* list = kCandidates;
    std::size_t count = sizeof kCandidates / sizeof kCandidates[0];
    if (chosen != nullptr && chosen[0] != '\0') {
        list = &chosen;
        count = 1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        LibraryHandle library(dlopen(list[i], RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
        if (!library) continue;
        void* const handle = library.get();
        auto loaded = std::make_unique<Library>();
        loaded->handle = std::move(library);
        loaded->name = list[i];
        loaded->threadIbsta = reinterpret_cast<IntFn>(dlsym(handle, "ThreadIbsta"));
        loaded->threadIberr = reinterpret_cast<IntFn>(dlsym(handle, "ThreadIberr"));
        loaded->threadIbcntl = reinterpret_cast<LongFn>(dlsym(handle, "ThreadIbcntl"));
        loaded->threadIbcnt = reinterpret_cast<IntFn>(dlsym(handle, "ThreadIbcnt"));
        loaded->varIbsta = static_cast<volatile int*>(dlsym(handle, "ibsta"));
        loaded->varIberr = static_cast<volatile int*>(dlsym(handle, "iberr"));
        loaded->varIbcntl = static_cast<volatile long*>(dlsym(handle, "ibcntl"));
        const bool status = (loaded->threadIbsta || loaded->varIbsta) && (loaded->threadIberr || loaded->varIberr) &&
                            (loaded->threadIbcntl || loaded->threadIbcnt || loaded->varIbcntl);
        if (!status) continue;  // not a driver we can read (closed here): try the next one
        // The Linux driver's own library; NI's are named differently.
        const std::string base = loaded->name.substr(loaded->name.rfind('/') + 1);
        loaded->linuxGpib = base.rfind("libgpib.so", 0) == 0;
        library_ = std::move(loaded);
        return true;
    }
    return false;
}

void* GpibDriver::Lookup(int op) {
    Library& lib = *library_;
    if (!lib.looked[op]) {
        lib.ops[op] = dlsym(lib.handle.get(), kOpNames[op]);
        lib.looked[op] = true;
    }
    return lib.ops[op];
}

void GpibDriver::CopyStatus() {
    const Library& lib = *library_;
    status_.ibsta = lib.threadIbsta ? lib.threadIbsta() : *lib.varIbsta;
    status_.iberr = lib.threadIberr ? lib.threadIberr() : *lib.varIberr;
    if (lib.threadIbcntl)
        status_.ibcntl = static_cast<std::int32_t>(lib.threadIbcntl());
    else if (lib.threadIbcnt)
        status_.ibcntl = lib.threadIbcnt();
    else
        status_.ibcntl = static_cast<std::int32_t>(*lib.varIbcntl);
}

// Calls an operation with its arguments, or fails as described in the header.
template <typename Fn, typename... Args>
std::int32_t GpibDriver::Call(int op, int ud, Args... args) {
    if (!Load()) {
        Fail(kSystemErrorNoLibrary);
        return status_.ibsta;
    }
    if (ud < 0) {
        Fail(kSystemErrorBadDescriptor);
        return status_.ibsta;
    }
    void* entry = Lookup(op);
    if (entry == nullptr) {
        Fail(kSystemErrorNoOperation);
        return status_.ibsta;
    }
    reinterpret_cast<Fn>(entry)(ud, args...);
    CopyStatus();
    return status_.ibsta;
}

// An operation that some drivers provide only as an ibconfig option.
std::int32_t GpibDriver::CallOrConfig(int op, int ud, int value, int option) {
    if (Load() && Lookup(op) == nullptr && Lookup(kIbconfig) != nullptr)
        return Call<UdInt2>(kIbconfig, ud, option, value);
    return Call<UdInt>(op, ud, value);
}

int GpibDriver::ibfind(const char* name) {
    if (!Load()) {
        Fail(kSystemErrorNoLibrary);
        return -1;
    }
    using FindFn = int (*)(const char*);
    void* entry = Lookup(kIbfind);
    if (entry == nullptr) entry = Lookup(kIbfindA);
    if (entry == nullptr) {
        Fail(kSystemErrorNoOperation);
        return -1;
    }
    // The Linux driver complains on standard error about a board name missing from
    // its configuration unless told not to.
    const char* previous = std::getenv("IB_NO_ERROR");
    const std::string saved = previous ? previous : "";
    setenv("IB_NO_ERROR", "1", 1);
    const int ud = reinterpret_cast<FindFn>(entry)(name);
    if (previous)
        setenv("IB_NO_ERROR", saved.c_str(), 1);
    else
        unsetenv("IB_NO_ERROR");
    CopyStatus();
    return ud < 0 ? -1 : ud;
}

std::int32_t GpibDriver::ibpad(int ud, int address) { return CallOrConfig(kIbpad, ud, address, kIbcPad); }
std::int32_t GpibDriver::ibsad(int ud, int address) { return CallOrConfig(kIbsad, ud, address, kIbcSad); }
std::int32_t GpibDriver::ibtmo(int ud, int code) {
    const std::int32_t status = CallOrConfig(kIbtmo, ud, code, kIbcTmo);
    if ((status & kStatusErr) == 0) lastTimeoutCode_ = code;
    return status;
}

std::int32_t GpibDriver::ibeot(int ud, int on) { return CallOrConfig(kIbeot, ud, on, kIbcEot); }
std::int32_t GpibDriver::ibrsc(int ud, int on) { return CallOrConfig(kIbrsc, ud, on, kIbcSc); }
std::int32_t GpibDriver::ibsre(int ud, int on) { return CallOrConfig(kIbsre, ud, on, kIbcSre); }
std::int32_t GpibDriver::ibdma(int ud, int on) { return CallOrConfig(kIbdma, ud, on, kIbcDma); }

std::int32_t GpibDriver::ibeos(int ud, int mode) {
    if (Load() && Lookup(kIbeos) == nullptr && Lookup(kIbconfig) != nullptr) {
        // The mode word split into its parts: the byte, REOS, XEOS and BIN.
        const int parts[][2] = {{kIbcEosChar, mode & 0xFF},
                                {kIbcEosRd, (mode & 0x0400) ? 1 : 0},
                                {kIbcEosWrt, (mode & 0x0800) ? 1 : 0},
                                {kIbcEosCmp, (mode & 0x1000) ? 1 : 0}};
        for (const auto& part : parts) {
            if (Call<UdInt2>(kIbconfig, ud, part[0], part[1]) & kStatusErr) break;
        }
        return status_.ibsta;
    }
    return Call<UdInt>(kIbeos, ud, mode);
}

std::int32_t GpibDriver::ibconfig(int ud, int option, int value) { return Call<UdInt2>(kIbconfig, ud, option, value); }
std::int32_t GpibDriver::ibsic(int ud) { return Call<Ud>(kIbsic, ud); }
std::int32_t GpibDriver::ibonl(int ud, int on) { return Call<UdInt>(kIbonl, ud, on); }
std::int32_t GpibDriver::ibcmda(int ud, const void* bytes, long count) { return Call<UdConstBuf>(kIbcmda, ud, bytes, count); }
std::int32_t GpibDriver::ibwrta(int ud, const void* bytes, long count) { return Call<UdConstBuf>(kIbwrta, ud, bytes, count); }
std::int32_t GpibDriver::ibrda(int ud, void* buffer, long count) { return Call<UdBuf>(kIbrda, ud, buffer, count); }
std::int32_t GpibDriver::ibrd(int ud, void* buffer, long count) { return Call<UdBuf>(kIbrd, ud, buffer, count); }
std::int32_t GpibDriver::ibrpp(int ud, char* response) { return Call<UdChar>(kIbrpp, ud, response); }
std::int32_t GpibDriver::ibwait(int ud, int mask) { return Call<UdInt>(kIbwait, ud, mask); }
std::int32_t GpibDriver::ibstop(int ud) { return Call<Ud>(kIbstop, ud); }
std::int32_t GpibDriver::ibln(int ud, int pad, int sad, short* found) {
    using UdLn = int (*)(int, int, int, short*);
    return Call<UdLn>(kIbln, ud, pad, sad, found);
}

void GpibDriver::CollectCompletion(int ud, bool refresh) {
    if (LinuxGpibLibrary())
        ibwait(ud, kCmplMask);
    else if (refresh)
        ibwait(ud, 0);
}

bool GpibDriver::LinuxGpibLibrary() const { return library_ != nullptr && library_->linuxGpib; }

std::string GpibDriver::TriedLibraries() {
    const char* chosen = std::getenv("KELVO_GPIB_LIBRARY");
    if (chosen != nullptr && chosen[0] != '\0') return std::string("$KELVO_GPIB_LIBRARY (") + chosen + ")";
    std::string list;
    for (const char* name : kCandidates) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

std::string GpibDriver::LoadedLibrary() const { return library_ != nullptr ? library_->name : std::string(); }

void GpibDriver::Unload() { library_.reset(); }

}  // namespace kelvo
