#!/usr/bin/env python3
"""The simulated libgpib.so.0 loaded from Python as a ctypes binding loads the
Linux GPIB library: by its soname, found through LD_LIBRARY_PATH, with the
functions such bindings declare up front (ibask among them). Run with
GPIB_SIM_CONFIG naming tests/sim/data/c_api_bench.yaml."""
import ctypes
import os
import sys
import tempfile
import unittest

ERR, TIMO, END, CMPL = 0x8000, 0x4000, 0x2000, 0x100
EARG, EABO, ETAB = 4, 6, 20
T10ms, T1s = 7, 11
IbaTMO = 0x3
NOADDR = 0xFFFF

lib = ctypes.CDLL("libgpib.so.0")
# What a binding declares when it loads: every name must resolve.
SIGNATURES = {
    "ibfind": ([ctypes.c_char_p], ctypes.c_int),
    "ibdev": ([ctypes.c_int] * 6, ctypes.c_int),
    "ibonl": ([ctypes.c_int, ctypes.c_int], ctypes.c_int),
    "ibpad": ([ctypes.c_int, ctypes.c_int], ctypes.c_int),
    "ibrsv2": ([ctypes.c_int] * 3, ctypes.c_int),
    "PPollConfig": ([ctypes.c_int, ctypes.c_uint16, ctypes.c_int, ctypes.c_int], None),
    "ResetSys": ([ctypes.c_int, ctypes.POINTER(ctypes.c_uint16)], None),
    "ibwrt": ([ctypes.c_int, ctypes.c_char_p, ctypes.c_long], ctypes.c_int),
    "ibrd": ([ctypes.c_int, ctypes.c_char_p, ctypes.c_long], ctypes.c_int),
    "ibrsp": ([ctypes.c_int, ctypes.c_char_p], ctypes.c_int),
    "ibclr": ([ctypes.c_int], ctypes.c_int),
    "ibtrg": ([ctypes.c_int], ctypes.c_int),
    "ibtmo": ([ctypes.c_int, ctypes.c_int], ctypes.c_int),
    "ibask": ([ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int)], ctypes.c_int),
    "ibln": ([ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_short)], ctypes.c_int),
    "ibsic": ([ctypes.c_int], ctypes.c_int),
    "ibcmd": ([ctypes.c_int, ctypes.c_char_p, ctypes.c_long], ctypes.c_int),
    "ibsre": ([ctypes.c_int, ctypes.c_int], ctypes.c_int),
    "ibcac": ([ctypes.c_int, ctypes.c_int], ctypes.c_int),
    "ibgts": ([ctypes.c_int, ctypes.c_int], ctypes.c_int),
    "ibpct": ([ctypes.c_int], ctypes.c_int),
    "ibvers": ([ctypes.POINTER(ctypes.c_char_p)], None),
    "gpib_error_string": ([ctypes.c_int], ctypes.c_char_p),
    "FindLstn": ([ctypes.c_int, ctypes.POINTER(ctypes.c_uint16), ctypes.POINTER(ctypes.c_uint16), ctypes.c_int], None),
    "AllSpoll": ([ctypes.c_int, ctypes.POINTER(ctypes.c_uint16), ctypes.POINTER(ctypes.c_short)], None),
    "ThreadIbsta": ([], ctypes.c_int),
    "ThreadIberr": ([], ctypes.c_int),
    "ThreadIbcntl": ([], ctypes.c_long),
}
for name, (argtypes, restype) in SIGNATURES.items():
    function = getattr(lib, name)
    function.argtypes = argtypes
    function.restype = restype
ibcntl = ctypes.c_long.in_dll(lib, "ibcntl")
iberr = ctypes.c_int.in_dll(lib, "iberr")


class SimulatedLibrary(unittest.TestCase):
    def setUp(self):
        trace = tempfile.NamedTemporaryFile(prefix="kelvo-ctypes-", suffix=".txt", delete=False)
        trace.close()
        self.trace = trace.name
        os.environ["GPIB_SIM_TRACE"] = self.trace
        self.board = lib.ibfind(b"gpib0")
        self.assertGreaterEqual(self.board, 0)
        lib.ibsic(self.board)
        lib.ibsre(self.board, 1)
        self.dev = lib.ibdev(0, 6, 0, T1s, 1, 0)
        self.assertGreaterEqual(self.dev, 0)

    def tearDown(self):
        lib.ibonl(self.dev, 0)
        lib.ibonl(self.board, 0)
        del os.environ["GPIB_SIM_TRACE"]
        os.unlink(self.trace)

    def query(self, text):
        self.assertFalse(lib.ibwrt(self.dev, text, len(text)) & ERR)
        buffer = ctypes.create_string_buffer(256)
        sta = lib.ibrd(self.dev, buffer, 256)
        return sta, buffer.raw[: ibcntl.value]

    def trace_lines(self):
        with open(self.trace) as f:
            return f.read().splitlines()

    def test_write_read_and_query(self):
        sta, reply = self.query(b"*IDN?\n")
        self.assertEqual(reply, b"KELVO,CT-1\n")
        self.assertTrue(sta & END)
        self.assertEqual(lib.ThreadIbcntl(), 11)
        self.assertIn("WRT 2a 49 44 4e 3f 0a EOI", self.trace_lines())

    def test_serial_poll_clear_and_trigger(self):
        byte = ctypes.create_string_buffer(1)
        self.assertFalse(lib.ibrsp(self.dev, byte) & ERR)
        self.assertEqual(byte.raw, b"\x50")
        lib.ibrsp(self.dev, byte)
        self.assertEqual(byte.raw, b"\x10")
        self.assertFalse(lib.ibclr(self.dev) & ERR)
        self.assertFalse(lib.ibtrg(self.dev) & ERR)
        lines = self.trace_lines()
        self.assertIn("CMD 3f 26 40 04", lines)  # SDC to the meter
        self.assertIn("CMD 3f 26 40 08", lines)  # GET

    def test_timeout_and_ibask(self):
        value = ctypes.c_int(-1)
        lib.ibtmo(self.dev, T10ms)
        self.assertFalse(lib.ibask(self.dev, IbaTMO, ctypes.byref(value)) & ERR)
        self.assertEqual(value.value, T10ms)
        buffer = ctypes.create_string_buffer(16)
        sta = lib.ibrd(self.dev, buffer, 16)  # nothing was asked: the read times out
        self.assertTrue(sta & ERR and sta & TIMO)
        self.assertEqual(iberr.value, EABO)
        self.assertTrue(lib.ibask(self.dev, 0x7777, ctypes.byref(value)) & ERR)
        self.assertEqual(iberr.value, EARG)
        self.assertEqual(lib.gpib_error_string(EARG), b"EARG 4: Bad argument")

    def test_find_listeners(self):
        pads = (ctypes.c_uint16 * 32)(*range(1, 31), NOADDR, NOADDR)
        found = (ctypes.c_uint16 * 31)()
        lib.FindLstn(self.board, pads, found, 31)
        self.assertEqual(list(found[: ibcntl.value]), [5, 6])
        listener = ctypes.c_short(-1)
        lib.ibln(self.board, 6, 0, ctypes.byref(listener))
        self.assertEqual(listener.value, 1)
        lib.ibln(self.board, 7, 0, ctypes.byref(listener))
        self.assertEqual(listener.value, 0)

    def test_listener_check_limits_and_the_board_address_in_a_poll(self):
        listener = ctypes.c_short(-1)
        self.assertFalse(lib.ibln(self.board, 30, 0x60, ctypes.byref(listener)) & ERR)  # the first secondary
        self.assertEqual(listener.value, 0)
        self.assertTrue(lib.ibln(self.board, 31, 0, ctypes.byref(listener)) & ERR)
        self.assertEqual(iberr.value, EARG)
        nobody = lib.ibdev(0, 9, 0, T10ms, 1, 0)  # polled without touching the instruments' status
        lib.ibpad(self.board, 3)
        self.assertTrue(lib.ibrsp(nobody, ctypes.create_string_buffer(1)) & ERR)
        lib.ibln(self.board, 6, 0, ctypes.byref(listener))
        lib.ibpad(self.board, 0)
        lib.ibonl(nobody, 0)
        self.assertIn("CMD 3f 23 18 49", self.trace_lines())  # UNL, the board listens, SPE, 9 talks
        self.assertIn("CMD 43", self.trace_lines())  # the board talks while it looks for a listener

    def test_argument_limits(self):
        self.assertFalse(lib.ibcmd(self.board, None, 0) & ERR)  # nothing to send needs no buffer
        self.assertFalse(lib.ibrsv2(self.board, 0, 0) & ERR)  # no reason for service is a status byte too
        pads = (ctypes.c_uint16 * 3)(5, 31, NOADDR)
        lib.FindLstn(self.board, pads, (ctypes.c_uint16 * 2)(), 2)
        self.assertEqual((iberr.value, ibcntl.value), (EARG, 1))  # the count names the bad entry
        for line, sense, error in ((1, 0, 0), (8, 1, 0), (0, 0, EARG), (9, 0, EARG), (8, 2, EARG), (1, -1, EARG)):
            lib.PPollConfig(self.board, 5, line, sense)
            self.assertEqual(lib.ThreadIberr(), error, (line, sense))

    def test_reset_clears_the_interface_and_the_instruments_first(self):
        lib.ResetSys(self.board, (ctypes.c_uint16 * 2)(9, NOADDR))  # nobody at 9 for the "*RST"
        self.assertEqual(self.trace_lines()[2:5], ["REN 1", "IFC", "CMD 14"])

    def test_descriptors_run_out(self):
        opened = []
        while (ud := lib.ibdev(0, 6, 0, T1s, 1, 0)) >= 0:
            opened.append(ud)
        self.assertEqual((opened[-1], iberr.value), (63, ETAB))
        self.assertEqual((lib.ibfind(b"gpib0"), iberr.value), (-1, ETAB))
        for ud in opened:
            lib.ibonl(ud, 0)

    def test_all_spoll(self):
        pads = (ctypes.c_uint16 * 2)(5, NOADDR)  # the counter, which no other test polls
        results = (ctypes.c_short * 1)()
        lib.AllSpoll(self.board, pads, results)  # returns nothing: the status is the thread's
        self.assertFalse(lib.ThreadIbsta() & ERR)
        self.assertEqual(list(results), [0x42])
        self.assertIn("RD 42", self.trace_lines())  # the status byte read is on the trace

    def test_version(self):
        version = ctypes.c_char_p()
        lib.ibvers(ctypes.byref(version))
        self.assertEqual(version.value, b"4.3.7")


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=1).result
    sys.exit(0 if result.wasSuccessful() else 1)
