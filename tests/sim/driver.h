// The simulated bus reached as the program reaches a driver: libgpib.so.0 loaded
// with dlopen and its operations looked up by name. Each test gets its own bench
// file and trace file, so that the library loads a fresh bench at ibfind.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
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
    X(int, ibrsp, (int, char*))                                          \
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

// ibsta's bits by name, most significant first: "END|CMPL|CIC|LACS".
inline std::string StatusNames(int sta) {
    static const std::pair<int, const char*> kBits[] = {
        {ERR, "ERR"}, {TIMO, "TIMO"}, {END, "END"}, {SRQI, "SRQI"}, {RQS, "RQS"},   {SPOLL, "SPOLL"},
        {EVENT, "EVENT"}, {CMPL, "CMPL"}, {LOK, "LOK"}, {REM, "REM"}, {CIC, "CIC"}, {ATN, "ATN"},
        {TACS, "TACS"}, {LACS, "LACS"}, {DTAS, "DTAS"}, {DCAS, "DCAS"}};
    std::string names;
    for (const auto& [bit, name] : kBits)
        if (sta & bit) names += (names.empty() ? "" : "|") + std::string(name);
    return names;
}

inline int StatusMask(const std::string& names) {
    int mask = 0;
    std::stringstream in(names);
    for (std::string name; std::getline(in, name, '|');) {
        bool known = false;
        for (int bit = 1; bit <= ERR; bit <<= 1)
            if (StatusNames(bit) == name) mask |= bit, known = true;
        if (!known) mask |= std::stoi(name, nullptr, 0);
    }
    return mask;
}

// One call of a script and what it must leave.
struct Step {
    const char* call;
    const char* status;          // ibsta by name (StatusNames); "*" when it does not matter
    int iberr = -1;              // checked unless -1
    long ibcntl = -1;            // checked unless -1
    const char* data = nullptr;  // what the read brought in, or a poll's answer, when given
};

// A test with its own bench (written from YAML text) and trace file. The board
// is found and set up as the program does before each command line.
class BusTest : public ::testing::Test {
protected:
    const Driver& gpib = Driver::Get();
    int ud = -1;
    int device = -1;  // the descriptor the last "ibdev" step opened

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

    // Writes the bench, finds the board and sets it up as the program does.
    void Start(const std::string& yaml) {
        const std::string path = Path("bench.yaml");
        std::ofstream(path) << yaml;
        setenv("GPIB_SIM_CONFIG", path.c_str(), 1);
        StartBoard();
    }

    // Interface Clear, Remote Enable, EOI on writes, no timeout.
    int StartBoard() {
        ud = gpib.ibfind("gpib0");
        EXPECT_GE(ud, 16);  // descriptors follow the board indexes
        open_.push_back(ud);
        gpib.ibtmo(ud, TNONE);
        gpib.ibeot(ud, 1);
        gpib.ibsic(ud);
        return gpib.ibsre(ud, 1);
    }

    // Takes every descriptor offline, so that the next ibfind may read a new bench.
    void Offline() {
        for (int d : open_) gpib.ibonl(d, 0);
        open_.clear();
    }

    // Runs the steps in order. A call is an operation and its arguments:
    //   cmd|cmda HEX...   wrt|wrta TEXT (the rest of the step)   wrt-null   rd|rda COUNT
    //   wait MASK   stop   sic   rpp   rsp   ibdev PAD   start   and the
    //   settings tmo|eos|eot|pad|sre|rsc|onl N and config OPTION VALUE.
    // It goes to the board, to the last device opened with "dev " in front, or to
    // descriptor N with "ud N " in front. Reads all use one buffer.
    void Run(std::initializer_list<Step> steps) {
        for (const Step& step : steps) {
            SCOPED_TRACE(step.call);
            std::string answer;
            const int sta = Call(step.call, answer);
            if (std::string(step.status) != "*") { EXPECT_EQ(StatusNames(sta), step.status); }
            EXPECT_EQ(*gpib.ibsta, sta);
            EXPECT_EQ(gpib.ThreadIbsta(), sta);
            EXPECT_EQ(gpib.ThreadIberr(), *gpib.iberr);
            EXPECT_EQ(gpib.ThreadIbcntl(), *gpib.ibcntl);
            if (step.iberr != -1) { EXPECT_EQ(*gpib.iberr, step.iberr); }
            if (step.ibcntl != -1) { EXPECT_EQ(*gpib.ibcntl, step.ibcntl); }
            if (answer.empty() && *gpib.ibcntl > 0)
                answer.assign(buffer_.data(), static_cast<std::size_t>(std::min<long>(*gpib.ibcntl, kBuffer)));
            if (step.data != nullptr) { EXPECT_EQ(answer, step.data); }
        }
    }

    // The bus trace so far, one event a line.
    std::string Trace() const {
        std::ifstream in(trace_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::vector<int> open_;

private:
    static constexpr long kBuffer = 1 << 20;

    int Call(const std::string& text, std::string& answer) {
        std::string op = text, rest;  // the operation, and the rest of the step after one space
        auto next = [&] {
            const std::size_t space = op.find(' ');
            rest = space == std::string::npos ? "" : op.substr(space + 1);
            op.resize(std::min(space, op.size()));
        };
        next();
        int target = ud;
        if (op == "dev") target = device, op = rest, next();
        if (op == "ud") target = std::stoi(rest), op = rest.substr(rest.find(' ') + 1), next();
        std::istringstream args(rest);
        auto arg = [&args] {
            std::string word;
            args >> word;
            return std::stoi(word, nullptr, 0);
        };
        if (op == "cmd" || op == "cmda") {
            bytes_.clear();
            for (std::string h; args >> h;) bytes_ += static_cast<char>(std::stoi(h, nullptr, 16));
            return (op == "cmd" ? gpib.ibcmd : gpib.ibcmda)(target, bytes_.data(), static_cast<long>(bytes_.size()));
        }
        if (op == "wrt" || op == "wrta") {
            bytes_ = rest;
            return (op == "wrt" ? gpib.ibwrt : gpib.ibwrta)(target, bytes_.data(), static_cast<long>(bytes_.size()));
        }
        if (op == "wrt-null") return gpib.ibwrt(target, nullptr, 0);
        if (op == "rd" || op == "rda") {
            buffer_.assign(static_cast<std::size_t>(kBuffer), '\0');
            return (op == "rd" ? gpib.ibrd : gpib.ibrda)(target, buffer_.data(), arg());
        }
        if (op == "wait") return gpib.ibwait(target, StatusMask(rest));
        if (op == "stop") return gpib.ibstop(target);
        if (op == "sic") return gpib.ibsic(target);
        if (op == "start") return StartBoard();
        if (op == "rpp" || op == "rsp") {
            char byte = 0, hex[3];
            const int sta = (op == "rpp" ? gpib.ibrpp : gpib.ibrsp)(target, &byte);
            std::snprintf(hex, sizeof hex, "%02x", byte & 0xFF);
            return answer = hex, sta;
        }
        if (op == "ibdev") {
            device = gpib.ibdev(0, arg(), 0, T100ms, 1, 0);
            if (device >= 0) open_.push_back(device);
            return *gpib.ibsta;
        }
        if (op == "config") {
            const int option = arg();
            return gpib.ibconfig(target, option, arg());
        }
        const int value = arg();
        if (op == "tmo") return gpib.ibtmo(target, value);
        if (op == "eos") return gpib.ibeos(target, value);
        if (op == "eot") return gpib.ibeot(target, value);
        if (op == "pad") return gpib.ibpad(target, value);
        if (op == "sre") return gpib.ibsre(target, value);
        if (op == "rsc") return gpib.ibrsc(target, value);
        if (op == "onl") return gpib.ibonl(target, value);
        ADD_FAILURE() << "unknown step " << text;
        return -1;
    }

    std::filesystem::path dir_;
    std::string trace_;
    std::string bytes_;
    std::vector<char> buffer_ = std::vector<char>(static_cast<std::size_t>(kBuffer));
};

}  // namespace kelvo::simtest
