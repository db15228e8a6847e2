#!/usr/bin/env python3
"""Runs golden transcripts: kelvo-cli fed the lines of a case file, its output
compared byte for byte with what the file says it must be; every case is run,
and the differences of all are shown.

    run.py --cli KELVO_CLI [--gpib-sim LIB] [--instsim KELVO_INSTSIM] CASE.txt...

A case file is a run of sections, each opened by a line "=== NAME [words]";
lines before the first section are comments. Sections given to the run:

  === args WORDS          kelvo-cli's arguments beyond --attrs --beeps (quoted
                          as in a shell)
  === plain               without --attrs
  === status N            the exit status expected (0 without this section)
  === bench NAME.yaml     the simulated bus serves benches/NAME.yaml
  === instsim [OPTIONS]   kelvo-instsim on a free port of 127.0.0.1 serves the
                          bench (its built-in one without a bench section);
                          kelvo-cli gets --tcpip --port PORT ahead of its args
                          (so that --protocol there overrides --tcpip); with
                          --portmap-port 0 among the OPTIONS, it serves the
                          bench's VXI-11 resources and PORT is the portmapper's
  === file NAME           a file in the case's scratch folder, escaped (below)
  === fifo NAME           a named pipe in the scratch folder
  === input               the lines typed, escaped (below); $PORT there is
                          the instrument's port
  === signal NAME STREAM  once STREAM (stdout, stderr, bus or instrument)
                          holds the section's text (escaped) and kelvo-cli
                          sleeps, it gets SIGNAME; input and signal sections
                          are taken in their order
  === hold                standard input stays open: kelvo-cli must end by
                          itself
  === env NAME=VALUE...   more of kelvo-cli's environment; $GPIBSIMDIR is the
                          simulated library's folder
  === gpibconf NAME       (the real library only) the configuration file
                          names board 0 NAME; "none": there is no file

Sections the run is compared with; each is written when missing:

  === stdout              what kelvo-cli wrote, with --attrs markers
  === stderr              beeps (--beeps) and what started programs said
  === bus                 the simulated bus's trace (GPIB_SIM_TRACE)
  === instrument          kelvo-instsim's trace (--trace), consecutive RX or
                          TX lines joined: the byte stream keeps no send apart;
                          as kelvo-cli holds one connection at a time, each
                          CLOSE stands before the next CONNECT (the simulator
                          may see the new connection before the old one's end)

In the bus section each run of RD lines (reads up to one
that ended) holding more than 64 bytes in all is one line: its first 16 bytes,
"..." and its counts of bytes and reads; in the instrument section so is each
joined line of more than 64 bytes.
  === wrote NAME          a file the run left in the scratch folder, escaped
  === listing             the names of the files left in the scratch folder
                          (compared only when the section is there)

A wrote section of a .xml file is also checked against junit.xsd by xmllint.

Without a bench section kelvo-cli finds no GPIB driver library. It runs in
the scratch folder, whose path is written $TMP in every
section. Masked in stdout, stderr and wrote sections: elapsed seconds
("0.02{3} seconds" becomes "T{3} seconds"), dates of TM ("<date>"), the
instrument's port ("$PORT"; its other ports by kind, e.g. "$PORT(vxi11)"),
and the time and timestamp attributes of a JUnit report (time="T",
timestamp="<date>"). In escaped sections a backslash is written "\\\\",
a carriage return "\\r", and any other byte that is no printable character,
tab or line feed "\\xNN". A section
whose header ends in "noeol" holds text without a last line feed.

The cases run side by side, as many at a time as KELVO_GOLDEN_JOBS says (twice
the number of processors unless set: most of a case's time is spent waiting).
KELVO_GOLDEN_UPDATE=1 rewrites the compared sections with what the run gave.
With KELVO_GOLDEN_REAL_LIBGPIB (the Linux GPIB driver's user library) and
KELVO_GOLDEN_KERNEL_SIM (the emulated kernel driver) set, bench cases run
against the real library; the "REN 1" it raises as it takes system control,
ahead of each "IFC" and "REN 1", is dropped from the bus trace.
KELVO_GOLDEN_BOARD_NAME names its board in the driver's configuration file
(gpib0 unless set).
"""

import concurrent.futures
import os
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GIVEN = ("args", "plain", "status", "bench", "instsim", "file", "fifo", "input", "signal", "hold", "env", "gpibconf")
COMPARED = ("stdout", "stderr", "bus", "instrument", "wrote", "listing")
ESCAPED = ("file", "input", "signal", "wrote")
TIMEOUT = int(os.environ.get("KELVO_GOLDEN_TIMEOUT", "30"))
JOBS = int(os.environ.get("KELVO_GOLDEN_JOBS", "0")) or 2 * (os.cpu_count() or 1)


def escape(data):
    out = []
    for b in data:
        if b == 0x5C:
            out.append("\\\\")
        elif b == 0x0D:
            out.append("\\r")
        elif b in (0x09, 0x0A) or 0x20 <= b < 0x7F:
            out.append(chr(b))
        else:
            out.append("\\x%02x" % b)
    return "".join(out).encode()


def unescape(text):
    out = bytearray()
    i = 0
    while i < len(text):
        if text[i] == 0x5C and text[i + 1 : i + 2] == b"\\":
            out.append(0x5C)
            i += 2
        elif text[i] == 0x5C and text[i + 1 : i + 2] == b"r":
            out.append(0x0D)
            i += 2
        elif text[i] == 0x5C and text[i + 1 : i + 2] == b"x":
            out.append(int(text[i + 2 : i + 4], 16))
            i += 4
        else:
            out.append(text[i])
            i += 1
    return bytes(out)


class Section:
    def __init__(self, name, words):
        self.name, self.words, self.lines = name, words, []

    def body(self):
        text = b"".join(self.lines)
        if self.words and self.words[-1] == "noeol":
            text = text[:-1]
        return unescape(text) if self.name in ESCAPED else text

    def key(self):
        return (self.name, " ".join(w for w in self.words if w != "noeol"))


def parse(path):
    with open(path, "rb") as f:
        lines = f.read().splitlines(keepends=True)
    comments, sections = [], []
    for line in lines:
        if line.startswith(b"=== "):
            words = line[4:].decode().split()
            sections.append(Section(words[0], words[1:]))
        elif sections:
            sections[-1].lines.append(line)
        else:
            comments.append(line)
    for s in sections:
        if s.name not in GIVEN + COMPARED:
            raise SystemExit("%s: unknown section '%s'" % (path, s.name))
    return comments, sections


def render(section_key, body):
    name, rest = section_key
    text = escape(body) if name in ESCAPED else body
    header = "=== " + name + (" " + rest if rest else "")
    if text and not text.endswith(b"\n"):
        text += b"\n"
        header += " noeol"
    return header.encode() + b"\n" + text


def mask(data, scratch, port, others={}):
    data = data.replace(scratch.encode(), b"$TMP")
    data = re.sub(rb"\d+\.\d\d((?:\{\d+\})? [Ss]econds)", rb"T\1", data)
    data = re.sub(rb"[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] \d\d:\d\d:\d\d \d{4}", b"<date>", data)
    data = re.sub(rb'( time=")\d+\.\d+"', rb'\1T"', data)
    data = re.sub(rb' timestamp="[-0-9T:]+"', b' timestamp="<date>"', data)
    if port:
        data = re.sub(rb"(?<!\d)%d(?!\d)" % port, b"$PORT", data)
    for other, kind in others.items():
        data = re.sub(rb"(?<!\d)%d(?!\d)" % other, b"$PORT(" + kind.encode() + b")", data)
    return data


def shortened(data):
    """Each run of RD lines holding more than 64 bytes in all as one line."""
    out, run = [], []

    def flush():
        hexes = [w for line in run for w in line.split(" ")[1:] if len(w) == 2]
        if len(hexes) > 64:
            tail = [w for w in run[-1].split(" ")[1:] if len(w) != 2]
            out.append(" ".join(["RD"] + hexes[:16] + ["...", "(%d bytes, %d reads)" % (len(hexes), len(run))] + tail))
        else:
            out.extend(run)
        run.clear()

    for line in data.decode().splitlines():
        if run and (not line.startswith("RD ") or run[-1].endswith(" END")):
            flush()
        (run if line.startswith("RD ") else out).append(line)
    flush()
    return "".join(e + "\n" for e in out).encode()


def joined_trace(data):
    """kelvo-instsim's trace with consecutive RX (or TX) lines made one, and
    each CLOSE ahead of the next CONNECT."""
    events, open_, owed = [], 0, 0
    for line in data.decode().splitlines():
        if line == "CONNECT" and open_:
            events.append("CLOSE")
            open_, owed = open_ - 1, owed + 1
        if line == "CLOSE" and owed:
            owed -= 1
        elif events and line[:2] in ("RX", "TX") and events[-1][:2] == line[:2]:
            events[-1] += line[2:]
        else:
            events.append(line)
            open_ += {"CONNECT": 1, "CLOSE": -1}.get(line, 0)
    for i, e in enumerate(events):
        hexes = e.split(" ")[1:]
        if len(hexes) > 64:
            events[i] = " ".join([e[:2]] + hexes[:16] + ["...", "(%d bytes)" % len(hexes)])
    return "".join(e + "\n" for e in events).encode()


def real_bus(data):
    """The real library's trace in the simulated library's form."""
    events, out = data.decode().splitlines(), []
    for i, e in enumerate(events):
        if e == "REN 1" and events[i + 1 : i + 3] == ["IFC", "REN 1"]:
            continue
        out.append(e)
    return "".join(e + "\n" for e in out).encode()


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def start_instsim(path, options):
    """kelvo-instsim and the port kelvo-cli is to use: its one raw socket's, or
    with --portmap-port its VXI-11 portmapper's (the bench's VXI-11 resources
    served where they say)."""
    vxi11 = "--portmap-port" in options
    server = subprocess.Popen([path] + ([] if vxi11 else ["--listen", "127.0.0.1:0"]) + options, stdout=subprocess.PIPE, bufsize=0)
    said, others = "", {}
    while True:
        ready, _, _ = select.select([server.stdout], [], [], TIMEOUT)
        line = server.stdout.readline().decode() if ready else ""
        said += line
        m = re.match(r"listening on 127\.0\.0\.1:(\d+) ?(.*)$", line.strip())
        if m and m.group(2) == ("portmap" if vxi11 else ""):
            return server, int(m.group(1)), others
        if m:
            others[int(m.group(1))] = m.group(2)
        else:
            server.kill()
            raise SystemExit("kelvo-instsim did not start: %r" % said)


def asleep(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] == b"S"
    except (OSError, IndexError):
        return True


def converse(args, steps, hold, env, cwd, watched):
    """kelvo-cli fed the input sections, with the signals sent as they say;
    its status, output and error output, or the reason it failed."""
    child = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd, env=env)
    said = {"stdout": bytearray(), "stderr": bytearray()}

    def drain(stream, into):
        while chunk := os.read(stream.fileno(), 65536):
            into += chunk

    readers = [threading.Thread(target=drain, args=(child.stdout, said["stdout"])),
               threading.Thread(target=drain, args=(child.stderr, said["stderr"]))]
    for r in readers:
        r.start()
    deadline = time.monotonic() + TIMEOUT
    failure = None
    try:
        for step, text in steps:
            if step.name == "input":
                child.stdin.write(text)
                child.stdin.flush()
                continue
            name, stream = step.words[0], step.words[1]
            shows = (lambda: bytes(said[stream])) if stream in said else (lambda: read(watched[stream]))
            while not (text in shows() and asleep(child.pid)):
                if time.monotonic() > deadline or child.poll() is not None:
                    failure = "kelvo-cli never showed %r on %s" % (text.decode(errors="replace"), stream)
                    break
                time.sleep(0.002)
            if failure:
                break
            child.send_signal(getattr(signal, "SIG" + name))
    except BrokenPipeError:
        pass
    if not hold:
        try:
            child.stdin.close()
        except BrokenPipeError:
            pass
    try:
        child.wait(max(0, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        failure = failure or "kelvo-cli did not end within %d seconds" % TIMEOUT
        child.kill()
        child.wait()
    for r in readers:
        r.join()
    if failure:
        failure += "; its output ended:\n" + bytes(said["stdout"])[-2000:].decode(errors="replace")
    return child.returncode, bytes(said["stdout"]), bytes(said["stderr"]), failure


def valid_report(path):
    """What xmllint finds wrong with the JUnit report, if anything."""
    try:
        done = subprocess.run(["xmllint", "--noout", "--schema", os.path.join(HERE, "junit.xsd"), path],
                              capture_output=True)
    except OSError as e:
        return "xmllint: %s" % e
    return None if done.returncode == 0 else (done.stdout + done.stderr).decode(errors="replace")


def run_case(path, tools, update):
    comments, sections = parse(path)
    given = {s.name: s for s in sections if s.name in GIVEN}
    scratch = tempfile.mkdtemp(prefix="kelvo-golden-")
    server, port, others = None, 0, {}
    try:
        for s in sections:
            if s.name == "file":
                os.makedirs(os.path.dirname(os.path.join(scratch, s.words[0])), exist_ok=True)
                with open(os.path.join(scratch, s.words[0]), "wb") as f:
                    f.write(s.body())
            elif s.name == "fifo":
                os.mkfifo(os.path.join(scratch, s.words[0]))
        env = dict(os.environ)
        env["KELVO_GPIB_LIBRARY"] = "/nonexistent/kelvo-golden-no-driver.so"
        args = [tools.cli, "--beeps"] + ([] if "plain" in given else ["--attrs"])
        bus_trace = os.path.join(scratch, ".bus")
        inst_trace = os.path.join(scratch, ".instrument")
        bench = None
        if "bench" in given:
            bench = os.path.join(HERE, "benches", given["bench"].words[0])
        real = os.environ.get("KELVO_GOLDEN_REAL_LIBGPIB")
        if "gpibconf" in given and not real:
            return ["%s: runs only against the real library (KELVO_GOLDEN_REAL_LIBGPIB)" % path]
        if "bench" in given and "instsim" not in given:
            env.update(GPIB_SIM_CONFIG=bench, GPIB_SIM_TRACE=bus_trace, KELVO_GPIB_LIBRARY=tools.gpib_sim)
            if real:
                conf = os.path.join(scratch, ".gpib.conf")
                board = given["gpibconf"].words[0] if "gpibconf" in given else os.environ.get("KELVO_GOLDEN_BOARD_NAME", "gpib0")
                if board != "none":
                    with open(conf, "w") as f:
                        f.write('interface {\n  minor = 0\n  board_type = "ni_pci"\n  name = "%s"\n'
                                "  pad = 0\n  sad = 0\n  timeout = T3s\n  eos = 0x0a\n  set-reos = no\n"
                                "  set-bin = no\n  set-xeos = no\n  set-eot = yes\n  master = yes\n}\n" % board)
                asan = env.get("ASAN_OPTIONS", "")
                env.update(KELVO_GPIB_LIBRARY=real, IB_CONFIG=conf,
                           LD_PRELOAD=os.environ["KELVO_GOLDEN_KERNEL_SIM"],
                           ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        if "instsim" in given:
            options = given["instsim"].words + ["--trace", inst_trace]
            if bench:
                options += ["--config", bench]
            server, port, others = start_instsim(tools.instsim, options)
            args += ["--tcpip", "--port", str(port)]
        if "args" in given:
            args += shlex.split(" ".join(given["args"].words))
        if "env" in given:
            sim_dir = os.path.dirname(os.path.abspath(tools.gpib_sim))
            env.update(w.replace("$GPIBSIMDIR", sim_dir).split("=", 1) for w in given["env"].words)
        steps = [(s, s.body().replace(b"$PORT", str(port).encode()) if port else s.body())
                 for s in sections if s.name in ("input", "signal")]
        status, stdout, stderr, failure = converse(args, steps, "hold" in given, env, scratch,
                                                   {"bus": bus_trace, "instrument": inst_trace})
        if failure:
            return ["%s: %s" % (path, failure)]
        if server:
            server.send_signal(signal.SIGTERM)
            server.wait(TIMEOUT)
            server.stdout.close()
        problems = []
        expected_status = int(given["status"].words[0]) if "status" in given else 0
        if status != expected_status:
            problems.append("%s: kelvo-cli ended with status %d, not %d" % (path, status, expected_status))
        actual = {
            ("stdout", ""): mask(stdout, scratch, port, others),
            ("stderr", ""): mask(stderr, scratch, port, others),
        }
        if "bench" in given and "instsim" not in given:
            trace = read(bus_trace)
            actual[("bus", "")] = shortened(real_bus(trace) if real else trace)
        if "instsim" in given:
            actual[("instrument", "")] = joined_trace(read(inst_trace))
        for s in sections:
            if s.name == "wrote":
                actual[s.key()] = mask(read(os.path.join(scratch, s.words[0])), scratch, port)
                wrong = valid_report(os.path.join(scratch, s.words[0])) if s.words[0].lower().endswith(".xml") else None
                if wrong:
                    problems.append("%s: %s is no valid JUnit report:\n%s" % (path, s.words[0], wrong))
            elif s.name == "listing":
                names = sorted(n for n in os.listdir(scratch) if not n.startswith("."))
                actual[s.key()] = "".join(n + "\n" for n in names).encode()
        expected = {s.key(): s.body() for s in sections if s.name in COMPARED}
        if update:
            write_case(path, comments, sections, actual)
            return problems
        for key, got in actual.items():
            want = expected.get(key)
            if want is None:
                problems.append("%s: no '=== %s' section (KELVO_GOLDEN_UPDATE=1 writes it)" % (path, key[0]))
            elif want != got:
                import difflib

                show = (lambda b: escape(b).decode()) if key[0] in ESCAPED else (lambda b: b.decode(errors="replace"))
                diff = difflib.unified_diff(show(want).splitlines(keepends=True), show(got).splitlines(keepends=True),
                                            "expected " + " ".join(key).strip(), "actual", n=2)
                problems.append("%s: %s differs\n%s" % (path, " ".join(key).strip(), "".join(diff)))
        return problems
    finally:
        if server and server.poll() is None:
            server.kill()
            server.wait()
        shutil.rmtree(scratch, ignore_errors=True)


def write_case(path, comments, sections, actual):
    out = b"".join(comments)
    for s in sections:
        if s.name in GIVEN:
            out += b"=== " + " ".join([s.name] + s.words).encode() + b"\n" + b"".join(s.lines)
    done = set()
    for key in [("stdout", ""), ("stderr", ""), ("bus", ""), ("instrument", "")]:
        if key in actual:
            out += render(key, actual[key])
            done.add(key)
    for key, body in actual.items():
        if key not in done:
            out += render(key, body)
    with open(path, "wb") as f:
        f.write(out)


def main():
    tools = Tools(sys.argv[1:])
    update = os.environ.get("KELVO_GOLDEN_UPDATE") == "1"
    # The cases side by side, each in its own scratch folder with its own
    # instrument port; what went wrong is told in the cases' order.
    with concurrent.futures.ThreadPoolExecutor(JOBS) as pool:
        problems = [p for found in pool.map(lambda case: run_case(case, tools, update), tools.cases) for p in found]
    for p in problems:
        print(p)
    return 1 if problems else 0


class Tools:
    """--cli PATH [--gpib-sim PATH] [--instsim PATH] CASE..."""

    def __init__(self, args):
        self.cli, self.gpib_sim, self.instsim, self.cases = "", "", "", []
        while args:
            if args[0] in ("--cli", "--gpib-sim", "--instsim") and len(args) > 1:
                setattr(self, args[0][2:].replace("-", "_"), args[1])
                args = args[2:]
            else:
                self.cases.append(args[0])
                args = args[1:]
        if not self.cli or not self.cases:
            raise SystemExit("usage: run.py --cli KELVO_CLI [--gpib-sim LIB] [--instsim KELVO_INSTSIM] CASE...")


if __name__ == "__main__":
    sys.exit(main())
