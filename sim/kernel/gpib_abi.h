// The character device interface of the Linux GPIB kernel driver (/dev/gpibN):
// the argument layouts and request numbers of its ioctls, as its user library
// uses them. Only the layouts are taken over; nothing here is the driver.
#pragma once

#include <linux/ioctl.h>
#include <linux/types.h>

namespace kelvo::kernelsim {

constexpr unsigned kGpibCode = 160;
constexpr int kMaxBoards = 16;
constexpr int kMaxDescriptors = 0x1000;

struct ReadWrite {
    __u64 buffer_ptr;
    __u32 requested_transfer_count;
    __u32 completed_transfer_count;
    __s32 end;  // END seen (reads); keep the transfer open for CMPL (commands)
    __s32 handle;
};
struct OpenDev {
    __u32 handle;
    __u32 pad;
    __s32 sad;
    __u32 is_board;
};
struct CloseDev {
    __u32 handle;
};
struct SerialPoll {
    __u32 pad;
    __s32 sad;
    __u8 status_byte;
    __u8 padding[3];
};
struct Eos {
    __s32 eos;
    __s32 eos_flags;
};
struct Wait {
    __s32 handle;
    __s32 wait_mask;
    __s32 clear_mask;
    __s32 set_mask;
    __s32 ibsta;
    __s32 pad;
    __s32 sad;
    __u32 usec_timeout;
};
struct Online {
    __u64 init_data_ptr;
    __s32 init_data_length;
    __s32 online;
};
struct SpollBytes {
    __u32 num_bytes;
    __u32 pad;
    __s32 sad;
};
struct BoardInfo {
    __u32 pad;
    __s32 sad;
    __s32 parallel_poll_configuration;
    __s32 autopolling;
    __s32 is_system_controller;
    __u32 t1_delay;
    unsigned ist : 1;
    unsigned no_7_bit_eos : 1;
    unsigned padding : 30;
};
struct PpollConfig {
    __u8 config;
    unsigned set_ist : 1;
    unsigned clear_ist : 1;
    unsigned padding : 22;
};
struct Pad {
    __u32 handle;
    __u32 pad;
};
struct Sad {
    __u32 handle;
    __s32 sad;
};

enum Request : unsigned long {
    IBRD = _IOWR(kGpibCode, 100, ReadWrite),
    IBWRT = _IOWR(kGpibCode, 101, ReadWrite),
    IBCMD = _IOWR(kGpibCode, 102, ReadWrite),
    IBOPENDEV = _IOWR(kGpibCode, 3, OpenDev),
    IBCLOSEDEV = _IOW(kGpibCode, 4, CloseDev),
    IBWAIT = _IOWR(kGpibCode, 5, Wait),
    IBRPP = _IOWR(kGpibCode, 6, __u8),
    IBSIC = _IOW(kGpibCode, 9, __u32),
    IBSRE = _IOW(kGpibCode, 10, __s32),
    IBGTS = _IO(kGpibCode, 11),
    IBCAC = _IOW(kGpibCode, 12, __s32),
    IBLINES = _IOR(kGpibCode, 14, __s16),
    IBPAD = _IOW(kGpibCode, 15, Pad),
    IBSAD = _IOW(kGpibCode, 16, Sad),
    IBTMO = _IOW(kGpibCode, 17, __u32),
    IBRSP = _IOWR(kGpibCode, 18, SerialPoll),
    IBEOS = _IOW(kGpibCode, 19, Eos),
    IBRSV = _IOW(kGpibCode, 20, __u8),
    IBMUTEX = _IOW(kGpibCode, 26, __s32),
    IBSPOLL_BYTES = _IOWR(kGpibCode, 27, SpollBytes),
    IBPPC = _IOW(kGpibCode, 28, PpollConfig),
    IBBOARD_INFO = _IOR(kGpibCode, 29, BoardInfo),
    IBQUERY_BOARD_RSV = _IOR(kGpibCode, 31, __s32),
    IBEVENT = _IOR(kGpibCode, 33, __s16),
    IBRSC = _IOW(kGpibCode, 34, __s32),
    IB_T1_DELAY = _IOW(kGpibCode, 35, __u32),
    IBLOC = _IO(kGpibCode, 36),
    IBAUTOSPOLL = _IOW(kGpibCode, 38, __s16),
    IBONL = _IOW(kGpibCode, 39, Online),
    IBPP2_SET = _IOW(kGpibCode, 40, __s16),
    IBPP2_GET = _IOR(kGpibCode, 41, __s16),
};

// ibsta bits the driver reports.
constexpr int kCIC = 0x0020, kATN = 0x0010, kTACS = 0x0008, kLACS = 0x0004, kCMPL = 0x0100, kSRQI = 0x1000,
              kRQS = 0x0800, kTIMO = 0x4000;
// eos_flags
constexpr int kREOS = 0x0400, kBIN = 0x1000, kEosMask = 0x1c00;

}  // namespace kelvo::kernelsim
