#!/usr/bin/python3
"""Reads the benchmark's 500,000-byte block with pyvisa-py for comparison.

Usage: pyvisa_block.py PORT [RUNS]
PORT is that of a kelvo-instsim started with --greeting '' (pyvisa-py expects
no greeting). Prints the median in-process time of query_binary_values.
"""
import statistics
import sys
import time

import pyvisa


def main() -> int:
    port = int(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET")
    inst.read_termination = "\n"
    inst.write_termination = "\n"
    inst.timeout = 10000
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        data = inst.query_binary_values("BLK?", datatype="B", container=bytes, header_fmt="ieee")
        times.append(time.perf_counter() - start)
        if len(data) != 500000:
            print(f"pyvisa-py read {len(data)} bytes, expected 500000", file=sys.stderr)
            return 1
    inst.close()
    print(f"pyvisa-py query_binary_values, 500000-byte block: median {statistics.median(times) * 1000:.2f} ms "
          f"over {runs} runs")
    return 0


if __name__ == "__main__":
    sys.exit(main())
