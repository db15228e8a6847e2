// The binding to the GPIB driver's user library, loaded at run time.
//
// Libraries tried in order: $KELVO_GPIB_LIBRARY when set (and then only it), the
// Linux GPIB driver (libgpib.so.0), then National Instruments' NI-488.2 for Linux.
// After every call the driver's status word, error code and byte count are copied
// into the binding's status (ibsta, iberr and ibcntl). When no library can be
// loaded, or an operation is missing, the call is not made: ibsta becomes ERR,
// iberr 0 ("DOS error") and ibcntl the system's error code; the next call tries
// to load again. A call on a negative descriptor (no board could be opened) is
// not made either: ERR, iberr 0, ibcntl EBADF.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kelvo {

// Status word bits.
inline constexpr std::int32_t kStatusErr = 0x8000;
inline constexpr std::int32_t kStatusTimo = 0x4000;
inline constexpr std::int32_t kStatusEnd = 0x2000;
inline constexpr std::int32_t kStatusCmpl = 0x0100;

// Error codes of the driver, and the program's own.
inline constexpr std::int32_t kErrDos = 0;
inline constexpr std::int32_t kErrNoListeners = 2;
inline constexpr std::int32_t kErrArgument = 4;
inline constexpr std::int32_t kErrTimeout = 128;
inline constexpr std::int32_t kErrKeyboardAbort = 129;
inline constexpr std::int32_t kErrShortTransfer = 130;

// The system error codes reported in ibcntl when the driver cannot be used.
inline constexpr std::int32_t kSystemErrorNoLibrary = 2;    // ENOENT
inline constexpr std::int32_t kSystemErrorNoOperation = 38; // ENOSYS
inline constexpr std::int32_t kSystemErrorBadDescriptor = 9; // EBADF

// The status values after a driver call, as the driver left them (or as the
// binding set them when the call could not be made).
struct DriverStatus {
    std::int32_t ibsta = 0;
    std::int32_t iberr = 0;
    std::int32_t ibcntl = 0;
};

// One binding to the driver library: its handle, the operations found in it, the
// status of the last call made through this binding and the timeout code this
// binding set last. Each session's GPIB transport holds its own; two bindings to
// the same library share the library (and the bus behind it), not their status.
class GpibDriver {
public:
    GpibDriver();
    ~GpibDriver();
    GpibDriver(const GpibDriver&) = delete;
    GpibDriver& operator=(const GpibDriver&) = delete;

    // The status of the last call. The completion wait adjusts it (a timeout of
    // its own, a short count) before the error report reads it.
    [[nodiscard]] DriverStatus& Status() { return status_; }
    [[nodiscard]] const DriverStatus& Status() const { return status_; }

    // Returns a board descriptor, or a negative value on failure (with the
    // driver's status values: a missing configuration file, an unknown name...).
    int ibfind(const char* name);
    std::int32_t ibpad(int ud, int address);
    std::int32_t ibsad(int ud, int address);
    std::int32_t ibtmo(int ud, int code);
    std::int32_t ibeos(int ud, int mode);
    std::int32_t ibeot(int ud, int on);
    std::int32_t ibconfig(int ud, int option, int value);
    std::int32_t ibrsc(int ud, int on);
    std::int32_t ibdma(int ud, int on);
    std::int32_t ibsic(int ud);
    std::int32_t ibsre(int ud, int on);
    std::int32_t ibonl(int ud, int on);
    std::int32_t ibcmda(int ud, const void* bytes, long count);
    std::int32_t ibwrta(int ud, const void* bytes, long count);
    std::int32_t ibrda(int ud, void* buffer, long count);
    std::int32_t ibrd(int ud, void* buffer, long count);
    std::int32_t ibrpp(int ud, char* response);
    // ibwait(ud, 0) is a poll: it returns the status at once.
    std::int32_t ibwait(int ud, int mask);
    std::int32_t ibstop(int ud);
    // Whether a device listens at `pad` (and `sad`, 0 for none): `found` becomes
    // 1 or 0.
    std::int32_t ibln(int ud, int pad, int sad, short* found);

    // After an asynchronous transfer has shown CMPL: makes the driver settle the
    // transfer's byte count and error and refreshes the status. The Linux
    // driver's library resets iberr and ibcnt on entry to every call and puts the
    // transfer's values back only in an ibwait with CMPL in its mask, so that is
    // the call made there, and it must be the last one before the values are
    // read. With other drivers a plain status poll refreshes them when `refresh`
    // is set.
    void CollectCompletion(int ud, bool refresh);

    // Whether the loaded library is the Linux GPIB driver's (or stands in for
    // it): its board descriptors are not board indexes, and a board index must
    // never be taken offline.
    [[nodiscard]] bool LinuxGpibLibrary() const;
    // The timeout code this binding last set with ibtmo (0, T NONE, at first).
    [[nodiscard]] int LastTimeoutCode() const { return lastTimeoutCode_; }
    // The library in use, empty while none is loaded (for messages and tests).
    [[nodiscard]] std::string LoadedLibrary() const;
    // Forgets the loaded library so that the next call loads again (tests).
    void Unload();

    // What was tried when no library could be loaded, for the error report:
    // "$KELVO_GPIB_LIBRARY (path)" alone when that is set, else the built-in list.
    [[nodiscard]] static std::string TriedLibraries();

private:
    struct Library;

    bool Load();
    void* Lookup(int op);
    void Fail(std::int32_t systemError);
    void CopyStatus();
    template <typename Fn, typename... Args>
    std::int32_t Call(int op, int ud, Args... args);
    std::int32_t CallOrConfig(int op, int ud, int value, int option);

    std::unique_ptr<Library> library_;
    DriverStatus status_;
    int lastTimeoutCode_ = 0;
};

}  // namespace kelvo
