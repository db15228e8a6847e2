// Status bits, error codes, timeout codes, EOS bits and ibconfig options of the
// Linux GPIB driver's user library, which the simulated bus keeps.
#pragma once

namespace kelvo::gpibsim {

// ibsta
constexpr int DCAS = 0x0001, DTAS = 0x0002, LACS = 0x0004, TACS = 0x0008, ATN = 0x0010,
              CIC = 0x0020, REM = 0x0040, LOK = 0x0080, CMPL = 0x0100, EVENT = 0x0200,
              SPOLL = 0x0400, RQS = 0x0800, SRQI = 0x1000, END = 0x2000, TIMO = 0x4000,
              ERR = 0x8000;

// iberr
constexpr int EDVR = 0, ECIC = 1, ENOL = 2, EADR = 3, EARG = 4, ESAC = 5, EABO = 6, ENEB = 7,
              EDMA = 8, EOIP = 10, ECAP = 11, EFSO = 12, EBUS = 14, ESTB = 15, ESRQ = 16,
              ETAB = 20;

// ibtmo codes: TNONE (no limit), then 10 us to 1000 s.
constexpr int TNONE = 0, T10us = 1, T30us = 2, T100us = 3, T300us = 4, T1ms = 5, T3ms = 6,
              T10ms = 7, T30ms = 8, T100ms = 9, T300ms = 10, T1s = 11, T3s = 12, T10s = 13,
              T30s = 14, T100s = 15, T300s = 16, T1000s = 17;

// ibeos mode: the EOS byte in the low eight bits, and these.
constexpr int REOS = 0x0400, XEOS = 0x0800, BIN = 0x1000;

// ibconfig options
constexpr int IbcPAD = 0x01, IbcSAD = 0x02, IbcTMO = 0x03, IbcEOT = 0x04, IbcPPC = 0x05,
              IbcREADDR = 0x06, IbcAUTOPOLL = 0x07, IbcCICPROT = 0x08, IbcIRQ = 0x09, IbcSC = 0x0A,
              IbcSRE = 0x0B, IbcEOSrd = 0x0C, IbcEOSwrt = 0x0D, IbcEOScmp = 0x0E, IbcEOSchar = 0x0F,
              IbcPP2 = 0x10, IbcTIMING = 0x11, IbcDMA = 0x12;

}  // namespace kelvo::gpibsim
