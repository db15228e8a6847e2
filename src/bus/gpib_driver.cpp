#include "bus/gpib_driver.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace kelvo::gpib {
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

// Owner of a library opened with dlopen: closed when the owner ends.
struct LibraryCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

struct Driver {
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

// Never destroyed: a library loaded stays loaded until the process ends (its
// threads and the memory its globals point to may outlive any destructor run
// at exit). UnloadDriver closes it on request.
Driver& driver = *new Driver;
int lastTimeoutCode = 0;

void Fail(std::int32_t systemError) {
    ibsta = kStatusErr;
    iberr = kErrDos;
    ibcntl = systemError;
}

// The Linux GPIB driver's library, then National Instruments' NI-488.2 for Linux.
const char* const kCandidates[] = {
    "libgpib.so.0", "libni4882.so.1", "libni4882.so", "libgpibapi.so.0", "libgpibapi.so",
};

bool Load() {
    if (driver.handle != nullptr) return true;
    const char* chosen = std::getenv("KELVO_GPIB_LIBRARY");
    const char* const* list = kCandidates;
    std::size_t count = sizeof kCandidates / sizeof kCandidates[0];
    if (chosen != nullptr && chosen[0] != '\0') {
        list = &chosen;
        count = 1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        LibraryHandle library(dlopen(list[i], RTLD_NOW | RTLD_LOCAL));
        if (!library) continue;
        void* const handle = library.get();
        Driver loaded;
        loaded.handle = std::move(library);
        loaded.name = list[i];
        loaded.threadIbsta = reinterpret_cast<IntFn>(dlsym(handle, "ThreadIbsta"));
        loaded.threadIberr = reinterpret_cast<IntFn>(dlsym(handle, "ThreadIberr"));
        loaded.threadIbcntl = reinterpret_cast<LongFn>(dlsym(handle, "ThreadIbcntl"));
        loaded.threadIbcnt = reinterpret_cast<IntFn>(dlsym(handle, "ThreadIbcnt"));
        loaded.varIbsta = static_cast<volatile int*>(dlsym(handle, "ibsta"));
        loaded.varIberr = static_cast<volatile int*>(dlsym(handle, "iberr"));
        loaded.varIbcntl = static_cast<volatile long*>(dlsym(handle, "ibcntl"));
        const bool status = (loaded.threadIbsta || loaded.varIbsta) && (loaded.threadIberr || loaded.varIberr) &&
                            (loaded.threadIbcntl || loaded.threadIbcnt || loaded.varIbcntl);
        if (!status) continue;  // not a driver we can read (closed here): try the next one
        // The Linux driver's own library; NI's are named differently.
        const std::string base = loaded.name.substr(loaded.name.rfind('/') + 1);
        loaded.linuxGpib = base.rfind("libgpib.so", 0) == 0;
        driver = std::move(loaded);
        return true;
    }
    return false;
}

void* Lookup(Op op) {
    if (!driver.looked[op]) {
        driver.ops[op] = dlsym(driver.handle.get(), kOpNames[op]);
        driver.looked[op] = true;
    }
    return driver.ops[op];
}

void CopyStatus() {
    ibsta = driver.threadIbsta ? driver.threadIbsta() : *driver.varIbsta;
    iberr = driver.threadIberr ? driver.threadIberr() : *driver.varIberr;
    if (driver.threadIbcntl)
        ibcntl = static_cast<std::int32_t>(driver.threadIbcntl());
    else if (driver.threadIbcnt)
        ibcntl = driver.threadIbcnt();
    else
        ibcntl = static_cast<std::int32_t>(*driver.varIbcntl);
}

// Calls an operation with its arguments, or fails as described in the header.
template <typename Fn, typename... Args>
std::int32_t Call(Op op, int ud, Args... args) {
    if (!Load()) {
        Fail(kSystemErrorNoLibrary);
        return ibsta;
    }
    if (ud < 0) {
        Fail(kSystemErrorBadDescriptor);
        return ibsta;
    }
    void* entry = Lookup(op);
    if (entry == nullptr) {
        Fail(kSystemErrorNoOperation);
        return ibsta;
    }
    reinterpret_cast<Fn>(entry)(ud, args...);
    CopyStatus();
    return ibsta;
}

using UdInt = int (*)(int, int);
using Ud = int (*)(int);
using UdInt2 = int (*)(int, int, int);
using UdConstBuf = int (*)(int, const void*, long);
using UdBuf = int (*)(int, void*, long);
using UdChar = int (*)(int, char*);

// An operation that some drivers provide only as an ibconfig option.
std::int32_t CallOrConfig(Op op, int ud, int value, int option) {
    if (Load() && Lookup(op) == nullptr && Lookup(kIbconfig) != nullptr)
        return Call<UdInt2>(kIbconfig, ud, option, value);
    return Call<UdInt>(op, ud, value);
}

}  // namespace

int ibfind(const char* name) {
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
    int ud = reinterpret_cast<FindFn>(entry)(name);
    if (previous)
        setenv("IB_NO_ERROR", saved.c_str(), 1);
    else
        unsetenv("IB_NO_ERROR");
    CopyStatus();
    return ud < 0 ? -1 : ud;
}

std::int32_t ibpad(int ud, int address) { return CallOrConfig(kIbpad, ud, address, kIbcPad); }
std::int32_t ibsad(int ud, int address) { return CallOrConfig(kIbsad, ud, address, kIbcSad); }
std::int32_t ibtmo(int ud, int code) {
    const std::int32_t status = CallOrConfig(kIbtmo, ud, code, kIbcTmo);
    if ((status & kStatusErr) == 0) lastTimeoutCode = code;
    return status;
}

int LastTimeoutCode() { return lastTimeoutCode; }
std::int32_t ibeot(int ud, int on) { return CallOrConfig(kIbeot, ud, on, kIbcEot); }
std::int32_t ibrsc(int ud, int on) { return CallOrConfig(kIbrsc, ud, on, kIbcSc); }
std::int32_t ibsre(int ud, int on) { return CallOrConfig(kIbsre, ud, on, kIbcSre); }
std::int32_t ibdma(int ud, int on) { return CallOrConfig(kIbdma, ud, on, kIbcDma); }

std::int32_t ibeos(int ud, int mode) {
    if (Load() && Lookup(kIbeos) == nullptr && Lookup(kIbconfig) != nullptr) {
        // The mode word split into its parts: the byte, REOS, XEOS and BIN.
        const int parts[][2] = {{kIbcEosChar, mode & 0xFF},
                                {kIbcEosRd, (mode & 0x0400) ? 1 : 0},
                                {kIbcEosWrt, (mode & 0x0800) ? 1 : 0},
                                {kIbcEosCmp, (mode & 0x1000) ? 1 : 0}};
        for (const auto& part : parts) {
            if (Call<UdInt2>(kIbconfig, ud, part[0], part[1]) & kStatusErr) break;
        }
        return ibsta;
    }
    return Call<UdInt>(kIbeos, ud, mode);
}

std::int32_t ibconfig(int ud, int option, int value) { return Call<UdInt2>(kIbconfig, ud, option, value); }
std::int32_t ibsic(int ud) { return Call<Ud>(kIbsic, ud); }
std::int32_t ibonl(int ud, int on) { return Call<UdInt>(kIbonl, ud, on); }
std::int32_t ibcmda(int ud, const void* bytes, long count) { return Call<UdConstBuf>(kIbcmda, ud, bytes, count); }
std::int32_t ibwrta(int ud, const void* bytes, long count) { return Call<UdConstBuf>(kIbwrta, ud, bytes, count); }
std::int32_t ibrda(int ud, void* buffer, long count) { return Call<UdBuf>(kIbrda, ud, buffer, count); }
std::int32_t ibrd(int ud, void* buffer, long count) { return Call<UdBuf>(kIbrd, ud, buffer, count); }
std::int32_t ibrpp(int ud, char* response) { return Call<UdChar>(kIbrpp, ud, response); }
std::int32_t ibwait(int ud, int mask) { return Call<UdInt>(kIbwait, ud, mask); }
std::int32_t ibstop(int ud) { return Call<Ud>(kIbstop, ud); }
std::int32_t ibln(int ud, int pad, int sad, short* found) {
    using UdLn = int (*)(int, int, int, short*);
    return Call<UdLn>(kIbln, ud, pad, sad, found);
}

void CollectCompletion(int ud, bool refresh) {
    if (driver.handle != nullptr && driver.linuxGpib)
        ibwait(ud, kCmplMask);
    else if (refresh)
        ibwait(ud, 0);
}

bool LinuxGpibLibrary() { return driver.handle != nullptr && driver.linuxGpib; }

std::string TriedLibraries() {
    const char* chosen = std::getenv("KELVO_GPIB_LIBRARY");
    if (chosen != nullptr && chosen[0] != '\0') return std::string("$KELVO_GPIB_LIBRARY (") + chosen + ")";
    std::string list;
    for (const char* name : kCandidates) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

std::string LoadedLibrary() { return driver.name; }

void UnloadDriver() { driver = Driver{}; }

}  // namespace kelvo::gpib
