// The simulated bus reached as the program reaches a driver: libgpib.so.0 loaded
// with dlopen and its operations looked up by name. Each test gets its own bench
// file and trace file, so that the library loads a fresh bench at ibfind.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gpib/gpib_codes.h"

namespace kelvo::simtest {

using namespace kelvo::gpibsim;

struct Driver {
    void* handle = nullptr;
    int (*ibfind)(const char*);
    int (*ibdev)(int, int, int, int, int, int);
    int (*ibonl)(int, int);
    int (*ibcmd)(int, const void*, long);
    int (*ibcmda)(int, const void*, long);
    int (*ibwrt)(int, const void*, long);
    int (*ibwrta)(int, const void*, long);
    int (*ibrd)(int, void*, long);
    int (*ibrda)(int, void*, long);
    int (*ibwait)(int, int);
    int (*ibstop)(int);
    int (*ibrpp)(int, char*);
    int (*ibsic)(int);
    int (*ibsre)(int, int);
    int (*ibrsc)(int, int);
    int (*ibtmo)(int, int);
    int (*ibeos)(int, int);
    int (*ibeot)(int, int);
    int (*ibpad)(int, int);
    int (*ibconfig)(int, int, int);
    int (*ThreadIberr)();
    long (*ThreadIbcntl)();
    int* ibsta;
    int* iberr;
    long* ibcntl;

    static const Driver& Get() {
        static const Driver driver = Load();
        return driver;
    }

private:
    template <typename T>
    static void Bind(void* handle, T& slot, const char* name) {
        slot = reinterpret_cast<T>(dlsym(handle, name));
        if (slot == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
    }
    static Driver Load() {
        Driver d;
        d.handle = dlopen(KELVO_GPIB_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (d.handle == nullptr) throw std::runtime_error(dlerror());
#define KELVO_BIND(name) Bind(d.handle, d.name, #name)
        KELVO_BIND(ibfind); KELVO_BIND(ibdev); KELVO_BIND(ibonl); KELVO_BIND(ibcmd);
        KELVO_BIND(ibcmda); KELVO_BIND(ibwrt); KELVO_BIND(ibwrta); KELVO_BIND(ibrd);
        KELVO_BIND(ibrda); KELVO_BIND(ibwait); KELVO_BIND(ibstop); KELVO_BIND(ibrpp);
        KELVO_BIND(ibsic); KELVO_BIND(ibsre); KELVO_BIND(ibrsc); KELVO_BIND(ibtmo);
        KELVO_BIND(ibeos); KELVO_BIND(ibeot); KELVO_BIND(ibpad); KELVO_BIND(ibconfig);
        KELVO_BIND(ThreadIberr); KELVO_BIND(ThreadIbcntl);
#undef KELVO_BIND
        d.ibsta = static_cast<int*>(dlsym(d.handle, "ibsta"));
        d.iberr = static_cast<int*>(dlsym(d.handle, "iberr"));
        d.ibcntl = static_cast<long*>(dlsym(d.handle, "ibcntl"));
        return d;
    }
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
