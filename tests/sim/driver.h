// The simulated bus reached as the program reaches a driver: libgpib.so.0 loaded
// with dlopen and its operations looked up by name. Each test gets its own bench
// file and trace file, so that the library loads a fresh bench at ibfind.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "gpib/gpib_codes.h"

namespace kelvo::simtest {

using namespace kelvo::gpibsim;

// The library's operations used by the tests, bound by name from the library at `path`.
#define KELVO_DRIVER_CALLS(X)                                                                                   \
    X(int, ibfind, (const char*)) X(int, ibdev, (int, int, int, int, int, int)) X(int, ibonl, (int, int))       \
    X(int, ibcmd, (int, const void*, long)) X(int, ibcmda, (int, const void*, long))                           \
    X(int, ibwrt, (int, const void*, long)) X(int, ibwrta, (int, const void*, long))                           \
    X(int, ibrd, (int, void*, long)) X(int, ibrda, (int, void*, long)) X(int, ibwait, (int, int))              \
    X(int, ibstop, (int)) X(int, ibrpp, (int, char*)) X(int, ibsic, (int)) X(int, ibsre, (int, int))           \
    X(int, ibrsc, (int, int)) X(int, ibtmo, (int, int)) X(int, ibeos, (int, int)) X(int, ibeot, (int, int))    \
    X(int, ibpad, (int, int)) X(int, ibsad, (int, int)) X(int, ibconfig, (int, int, int))                      \
    X(int, ThreadIbsta, ()) X(int, ThreadIberr, ()) X(long, ThreadIbcntl, ())

struct Driver {
#define KELVO_SLOT(type, name, args) type(*name) args = nullptr;
    KELVO_DRIVER_CALLS(KELVO_SLOT)
#undef KELVO_SLOT
    int* ibsta = nullptr;
    int* iberr = nullptr;
    long* ibcntl = nullptr;

    static Driver Load(const char* path) {
        Driver d;
        void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) throw std::runtime_error(dlerror());
        auto bind = [handle](const char* name) {
            void* symbol = dlsym(handle, name);
            if (symbol == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
            return symbol;
        };
#define KELVO_BIND(type, name, args) d.name = reinterpret_cast<type(*) args>(bind(#name));
        KELVO_DRIVER_CALLS(KELVO_BIND)
#undef KELVO_BIND
        d.ibsta = static_cast<int*>(bind("ibsta"));
        d.iberr = static_cast<int*>(bind("iberr"));
        d.ibcntl = static_cast<long*>(bind("ibcntl"));
        return d;
    }
#ifdef KELVO_GPIB_SIM_LIBRARY
    static const Driver& Get() {
        static const Driver driver = Load(KELVO_GPIB_SIM_LIBRARY);
        return driver;
    }
#endif
};

// A test with its own bench (written from YAML text) and trace file. The board
// is found and set up as the program does before each command line.
class BusTest : public ::testing::Test {
protected:
    const Driver& gpib = Driver::Get();
    int ud = -1;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("kelvo-sim-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        std::filesystem::create_directories(dir_);
        trace_ = (dir_ / "trace.txt").string();
        setenv("GPIB_SIM_TRACE", trace_.c_str(), 1);
        unsetenv("GPIB_SIM_CONFIG");
    }

    void TearDown() override {
        for (int d : open_) gpib.ibonl(d, 0);
        unsetenv("GPIB_SIM_TRACE");
        unsetenv("GPIB_SIM_CONFIG");
        std::filesystem::remove_all(dir_);
    }

    // Writes the bench, finds the board and sets it up as the program does:
    // Interface Clear, Remote Enable, EOI on writes, the given timeout.
    void Start(const std::string& yaml, int timeout = TNONE) {
        const std::string path = (dir_ / "bench.yaml").string();
        std::ofstream(path) << yaml;
        setenv("GPIB_SIM_CONFIG", path.c_str(), 1);
        StartBoard(timeout);
    }

    void StartBoard(int timeout = TNONE) {
        ud = gpib.ibfind("gpib0");
        ASSERT_GE(ud, 16);  // descriptors follow the board indexes
        open_.push_back(ud);
        gpib.ibtmo(ud, timeout);
        gpib.ibeot(ud, 1);
        gpib.ibsic(ud);
        gpib.ibsre(ud, 1);
    }

    int OpenDevice(int pad) {
        const int dev = gpib.ibdev(0, pad, 0, T100ms, 1, 0);
        if (dev >= 0) open_.push_back(dev);
        return dev;
    }

    // Sends command bytes and waits for completion as the program does.
    int Cmd(std::vector<unsigned char> bytes) {
        gpib.ibcmda(ud, bytes.data(), static_cast<long>(bytes.size()));
        return Wait();
    }
    // Polls until CMPL, then collects the result with CMPL in the mask.
    int Wait() {
        while (!(gpib.ibwait(ud, 0) & CMPL)) {
        }
        return gpib.ibwait(ud, CMPL);
    }
    // Addresses the instrument to listen (board talks) and writes text.
    int Send(int address, const std::string& text) {
        Cmd({0x3F, 0x5F, static_cast<unsigned char>(0x20 + address), 0x40});
        gpib.ibwrta(ud, text.data(), static_cast<long>(text.size()));
        return Wait();
    }
    // Addresses the instrument to talk (board listens) and reads its reply.
    std::string Receive(int address, long max = 4096) {
        Cmd({0x3F, 0x5F, static_cast<unsigned char>(0x40 + address), 0x20});
        std::string buffer(static_cast<std::size_t>(max), '\0');
        gpib.ibrda(ud, buffer.data(), max);
        Wait();
        buffer.resize(static_cast<std::size_t>(*gpib.ibcntl));
        return buffer;
    }
    std::string Query(int address, const std::string& text) {
        Send(address, text);
        return Receive(address);
    }

    std::vector<std::string> TraceLines() const {
        std::ifstream in(trace_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::vector<int> open_;

private:
    std::filesystem::path dir_;
    std::string trace_;
};

}  // namespace kelvo::simtest
