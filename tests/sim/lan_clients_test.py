#!/usr/bin/env python3
"""Third-party clients against kelvo-instsim: pyvisa-py (VXI-11 to inst0 and to
a gateway's GPIB address, and a raw socket) and lxi (raw socket, and VXI-11).

    lan_clients_test.py INSTSIM SCRATCH free   portmapper on a free port (pyvisa-py
                                               told it); lxi over the raw socket
    lan_clients_test.py INSTSIM SCRATCH 111    portmapper on port 111, as the
                                               clients expect it; skipped (77) when
                                               port 111 is not to be had

Only 127.0.0.1 is used. Exit status 0: passed, 1: failed, 77: skipped.
"""
import os
import shutil
import socket
import subprocess
import sys
import time

SKIP = 77
BLOCK = 20000

BENCH = """spec: "1.1"
devices:
  dmm:
    case_blind: true
    status_byte: 0x50
    eom:
      TCPIP INSTR: {q: "\\n", r: "\\n"}
      TCPIP SOCKET: {q: "\\n", r: "\\n"}
    dialogues:
      - q: "*IDN?"
        r: "KELVO,VM-1,EX0001,1.0"
      - q: "TRIGGER"
        r: "+1.0E+00"
      - q: "BLK?"
        r: "BLOCK(%d)"
  counter:
    case_blind: true
    status_byte: 0x41
    eom:
      GPIB INSTR: {q: "\\n", r: "\\n"}
    dialogues:
      - q: "*IDN?"
        r: "KELVO,FC-2,EX0002,1.0"
      - q: "TRIGGER"
        r: "+1.000000E+07"
resources:
  GPIB0::5::INSTR: {device: counter}
  TCPIP::127.0.0.1::INSTR: {device: dmm}
  TCPIP::127.0.0.1::gpib0,5::INSTR: {}
  TCPIP::127.0.0.1::%d::SOCKET: {device: dmm}
"""

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append("%s: got %r, expected %r" % (what, got, expected))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(instsim, scratch, mode):
    raw_port = free_port()
    bench = os.path.join(scratch, "lan.yaml")
    with open(bench, "w") as f:
        f.write(BENCH % (BLOCK, raw_port))
    args = [instsim, "--config", bench, "--trace", os.path.join(scratch, "lan-trace.txt")]
    if mode == "free":
        args += ["--portmap-port", "0"]
    server = subprocess.Popen(args, stdout=subprocess.PIPE)
    # The listening lines come out together, once every socket is ready.
    text = b""
    deadline = time.monotonic() + 20
    while b"vxi11-abort\n" not in text and time.monotonic() < deadline:
        chunk = os.read(server.stdout.fileno(), 4096)
        if not chunk:
            break
        text += chunk
    lines = {}
    for line in text.decode().splitlines():
        words = line.split()
        # "listening on HOST:PORT" for the raw socket, "... KIND" for the others.
        kind = words[3] if len(words) > 3 else "raw"
        lines[kind] = int(words[2].rsplit(":", 1)[1])
    if "vxi11-abort" not in lines:
        server.kill()
        print("kelvo-instsim did not start: %r" % text, file=sys.stderr)
        sys.exit(1)
    return server, lines, raw_port


def pyvisa_checks(portmap_port):
    try:
        import pyvisa
        from pyvisa_py.protocols import rpc
    except ImportError:
        return "pyvisa-py is not installed (Debian python3-pyvisa-py)"
    if portmap_port is not None:
        rpc.PMAP_PORT = portmap_port  # the client's portmapper port, for a server not on 111
    # Only this server's own programs are known: another's registration is refused.
    portmapper = rpc.TCPPortMapperClient("127.0.0.1")
    check("portmapper SET", portmapper.set((400000, 1, rpc.IPPROTO_TCP, 4000)), 0)
    check("portmapper GETPORT of another program", portmapper.get_port((400000, 1, rpc.IPPROTO_TCP, 0)), 0)
    portmapper.close()
    rm = pyvisa.ResourceManager("@py")
    blockExpected = bytes(i % 256 for i in range(BLOCK))

    inst = rm.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n", write_termination="\n",
                            timeout=5000)
    check("INSTR *IDN?", inst.query("*IDN?"), "KELVO,VM-1,EX0001,1.0")
    check("INSTR read_stb", inst.read_stb(), 0x50)
    check("INSTR read_stb after the poll", inst.read_stb(), 0x10)
    inst.assert_trigger()
    check("INSTR read after assert_trigger", inst.read(), "+1.0E+00")
    inst.write("*IDN?")
    inst.clear()
    inst.timeout = 200
    try:
        failures.append("INSTR read after clear: got %r" % inst.read())
    except pyvisa.errors.VisaIOError as e:
        check("INSTR read after clear", e.error_code, pyvisa.constants.StatusCode.error_timeout)
    inst.timeout = 5000
    check("INSTR query_binary_values",
          inst.query_binary_values("BLK?", datatype="B", container=bytes), blockExpected)
    inst.close()

    gw = rm.open_resource("TCPIP::127.0.0.1::gpib0,5::INSTR", read_termination="\n", write_termination="\n",
                          timeout=5000)
    check("gpib0,5 *IDN?", gw.query("*IDN?"), "KELVO,FC-2,EX0002,1.0")
    check("gpib0,5 read_stb", gw.read_stb(), 0x41)
    gw.clear()
    gw.assert_trigger()
    check("gpib0,5 read after assert_trigger", gw.read(), "+1.000000E+07")
    gw.close()
    return None


def pyvisa_socket_checks(raw_port):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    sock = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % raw_port, read_termination="\n",
                            write_termination="\n", timeout=5000)
    check("SOCKET *IDN?", sock.query("*IDN?"), "KELVO,VM-1,EX0001,1.0")
    check("SOCKET query_binary_values",
          sock.query_binary_values("BLK?", datatype="B", container=bytes),
          bytes(i % 256 for i in range(BLOCK)))
    sock.close()


def lxi(args):
    if shutil.which("lxi") is None:
        return None
    done = subprocess.run(["lxi", "scpi"] + args, capture_output=True, text=True, timeout=30)
    return done.stdout.strip() + done.stderr.strip()


def main():
    instsim, scratch, mode = sys.argv[1:4]
    server, ports, raw_port = start(instsim, scratch, mode)
    try:
        if mode == "111" and ports.get("portmap") != 111:
            print("skipped: port 111 is taken by another program, so the VXI-11 clients that look for the "
                  "portmapper there cannot be run; the other tests use a portmapper on a free port")
            return SKIP
        skipped = pyvisa_checks(ports["portmap"] if mode == "free" else None)
        if skipped is None and mode == "free":
            pyvisa_socket_checks(raw_port)
        if mode == "free":
            got = lxi(["-r", "-p", str(raw_port), "-a", "127.0.0.1", "*IDN?"])
            if got is not None:
                check("lxi raw *IDN?", got, "KELVO,VM-1,EX0001,1.0")
        else:
            got = lxi(["-a", "127.0.0.1", "*IDN?"])
            if got is not None:
                check("lxi VXI-11 *IDN?", got, "KELVO,VM-1,EX0001,1.0")
        if skipped is not None and mode == "free" and shutil.which("lxi") is None:
            print("skipped: " + skipped + ", and lxi is not installed (Debian lxi-tools)")
            return SKIP
        if skipped is not None:
            failures.append(skipped)
    finally:
        server.terminate()
        server.wait(timeout=10)
    trace = open(os.path.join(scratch, "lan-trace.txt")).read()
    for line in ("LINK #1 inst0", "STB #1 50", "TRIGGER #1", "CLEAR #1", "LINK #2 gpib0,5", "STB #2 41"):
        if ("\n" + line + "\n") not in ("\n" + trace) and mode == "free":
            failures.append("trace has no line %r" % line)
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
