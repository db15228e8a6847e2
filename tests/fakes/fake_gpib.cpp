// A scriptable stand-in for a GPIB driver library, for the binding's tests. It
// records every call, completes asynchronous transfers after a set number of
// polls, and fails a chosen operation on request. It has no ibrpp, so that the
// binding's handling of a missing operation can be seen.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kErr = 0x8000;
constexpr int kCmpl = 0x0100;

std::vector<std::string> calls;
int pollsBeforeCompletion = 0;  // -1: never completes
int pollsLeft = 0;
bool pending = false;
long completionCount = -1;  // -1: the requested count
int completionError = 0;
int completionStatus = 0;
long requested = 0;
std::string failOperation;
int failError = 0;

void Record(const char* name, std::initializer_list<long> args) {
    std::string line = name;
    for (long a : args) line += " " + std::to_string(a);
    calls.push_back(line);
}

}  // namespace

extern "C" {

int ibsta = 0;
int iberr = 0;
long ibcntl = 0;

int ThreadIbsta(void) { return ibsta; }
int ThreadIberr(void) { return iberr; }
long ThreadIbcntl(void) { return ibcntl; }

// ---- control, for the tests ----
void fake_set_polls(int polls) { pollsBeforeCompletion = polls; }
void fake_set_completion(long count, int error, int extraStatus) {
    completionCount = count, completionError = error, completionStatus = extraStatus;
}
void fake_fail(const char* operation, int error) { failOperation = operation, failError = error; }
void fake_reset(void) {
    calls.clear();
    pending = false;
    fake_set_polls(0), fake_set_completion(-1, 0, 0), fake_fail("", 0);
    ibsta = iberr = 0;
    ibcntl = 0;
}
int fake_call_count(void) { return static_cast<int>(calls.size()); }
const char* fake_call(int i) { return calls.at(static_cast<std::size_t>(i)).c_str(); }

// ---- the driver interface ----
static int Finish(const char* name) {
    if (failOperation == name) {
        ibsta = kErr;
        iberr = failError;
        ibcntl = 0;
    } else {
        ibsta = 0;
    }
    return ibsta;
}

int ibfind(const char* name) {
    calls.push_back(std::string("ibfind ") + name);
    return Finish("ibfind") == 0 ? 3 : -1;  // the board
}

#define SIMPLE2(op) \
    int op(int ud, int v) { Record(#op, {ud, v}); return Finish(#op); }
SIMPLE2(ibpad) SIMPLE2(ibsad) SIMPLE2(ibtmo) SIMPLE2(ibeos) SIMPLE2(ibeot) SIMPLE2(ibrsc) SIMPLE2(ibsre) SIMPLE2(ibonl)

int ibsic(int ud) { Record("ibsic", {ud}); return Finish("ibsic"); }
int ibconfig(int ud, int option, int value) { Record("ibconfig", {ud, option, value}); return Finish("ibconfig"); }
// Nobody listens.
int ibln(int ud, int pad, int sad, short* found) { Record("ibln", {ud, pad, sad}); *found = 0; return Finish("ibln"); }

static int StartAsync(const char* name, int ud, long count) {
    Record(name, {ud, count});
    if (failOperation == name) return Finish(name);
    pending = true;
    pollsLeft = pollsBeforeCompletion;
    requested = count;
    ibsta = 0;
    return ibsta;
}

int ibcmda(int ud, const void*, long count) { return StartAsync("ibcmda", ud, count); }
int ibwrta(int ud, const void*, long count) { return StartAsync("ibwrta", ud, count); }
int ibrda(int ud, void*, long count) { return StartAsync("ibrda", ud, count); }

int ibwait(int ud, int mask) {
    (void)ud;
    if (mask != 0) Record("ibwait", {ud, mask});
    if (failOperation == "ibwait") return Finish("ibwait");
    if (pending) {
        if (pollsLeft != 0) {
            if (pollsLeft > 0) --pollsLeft;
            ibsta = 0;
            return ibsta;
        }
        pending = false;
        ibcntl = completionCount >= 0 ? completionCount : requested;
        iberr = completionError;
        ibsta = kCmpl | completionStatus;
        return ibsta;
    }
    ibsta = (ibsta & ~kErr) | kCmpl;
    return ibsta;
}

int ibstop(int ud) {
    Record("ibstop", {ud});
    pending = false;
    ibsta = kErr;
    iberr = 6;  // EABO
    return ibsta;
}

}  // extern "C"
