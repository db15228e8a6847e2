// What the library's calls share beyond the core transfers in gpib_api.cpp: the
// lock over the library state, descriptor checks, status reports, the trace and
// the synchronous transfers. Every function but Lock expects the lock held.
#pragma once

#include <mutex>
#include <optional>
#include <string_view>

#include "gpib/bus.h"

#define KELVO_GPIB_EXPORT __attribute__((visibility("default")))

namespace kelvo::gpibsim::lib {

// A descriptor's settings as a call sees them.
struct Handle {
    int ud = -1;
    bool device = false;
    int pad = 0;
    int sad = 0;
    int timeout = 0;
    int eos = 0;
    bool eot = true;
};

std::unique_lock<std::mutex> Lock();
// Clears iberr and the count, then checks `ud` as every call does: nullopt, with
// the failure reported in `result`, when the call may not go on.
std::optional<Handle> Enter(int ud, int& result, bool boardOnly = false, bool whileBusy = false);
Bus& TheBus();
bool BenchReady();
// The status of descriptor `ud` (ibsta), as a success, a failure with `error`,
// or a setting's success with its previous value in iberr.
int Ok(int ud);
int Fail(int ud, int error);
int Previous(int ud, int previous);
void SetCount(long n);
void Trace(const char* tag, std::string_view bytes = {}, const char* suffix = "");
// Command bytes with ATN; false when no instrument is on the bus.
bool Command(std::string_view bytes);
// A device descriptor's addressing before a transfer.
bool Address(int ud, bool toListen);
int Read(int ud, void* buffer, long count);
int Write(int ud, const void* data, long count);
int CommandSync(int ud, const void* data, long count);
// Board settings kept by ibconfig that change nothing on the simulated bus.
int Option(int option, int initial);
void SetOption(int option, int value);
bool Dma();
// Sets ibsta (and the calling thread's copies) to `sta`.
int Report(int sta);
// A descriptor's EOI and end-of-string settings, put aside by calls that send
// or read their message their own way.
void SetEndMode(int ud, bool eot, int eos);

}  // namespace kelvo::gpibsim::lib
