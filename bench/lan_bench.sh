#!/usr/bin/env bash
# Kelvo over a raw socket and over VXI-11 beside third-party clients, against
# kelvo-instsim on 127.0.0.1:
#   - COUNT lines of «ENTER ;*IDN?» run by kelvo-cli (--protocol raw, then
#     vxi11) beside «lxi benchmark -c COUNT» (-r for raw), best of ROUNDS;
#   - the 500,000-byte block read over VXI-11 by kelvo-cli beside pyvisa-py's
#     query_binary_values (pyvisa-py asks the portmapper on port 111, so this
#     part runs only when port 111 is free for the simulator's portmapper).
#
# usage: bench/lan_bench.sh [BUILD_DIR] [COUNT] [ROUNDS]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$root/$build
count=${2:-1000}
rounds=${3:-5}
cli=$build/src/cli/kelvo-cli
sim=$build/sim/kelvo-instsim
for program in "$cli" "$sim"; do
  [[ -x $program ]] || { echo "missing $program: build first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cat >"$work/bench.yaml" <<'YAML'
spec: "1.1"
devices:
  dmm:
    dialogues:
      - q: "*IDN?"
        r: "KELVO,DMM,1,1.0"
      - q: "BLK?"
        r: "BLOCK(500000)"
resources:
  TCPIP::127.0.0.1::INSTR:
    device: dmm
YAML

# Starts the simulator with the arguments and waits for the line matching
# PATTERN; its port is left in $port. (Not run in a subshell: the simulator's
# process id must reach the cleanup.)
port=
start_sim() {
  local pattern=$1
  shift
  local out=$work/sim-$RANDOM.out
  "$sim" "$@" >"$out" 2>&1 &
  pids+=($!)
  local line=
  for _ in $(seq 300); do
    line=$(grep -m1 -E "$pattern" "$out" || true)
    [[ -n $line ]] && break
    sleep 0.01
  done
  [[ -n $line ]] || { echo "kelvo-instsim did not start: $(cat "$out")" >&2; exit 1; }
  port=$(echo "$line" | sed -E 's/^listening on [0-9.]+:([0-9]+).*$/\1/')
}

now() { date +%s.%N; }

for ((i = 0; i < count; i++)); do echo 'ENTER ;*IDN?'; done >"$work/idn.txt"
echo 'ENTER ;*IDN?' >"$work/one.txt"

# Runs kelvo-cli on a command file with the options; prints the seconds.
run_kelvo() {
  local file=$1
  shift
  local start end
  start=$(now)
  echo "RUN $file" | "$cli" "$@" >"$work/kelvo.out"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# The best rate of kelvo-cli with the options; the program's start and the
# connection (the time of a file of one line) are taken off, as lxi's rate
# counts the queries alone.
kelvo_rate() {
  local best=0 base full replies qps
  for ((r = 0; r < rounds; r++)); do
    base=$(run_kelvo "$work/one.txt" "$@")
    full=$(run_kelvo "$work/idn.txt" "$@")
    replies=$(grep -c '^KELVO' "$work/kelvo.out" || true)
    [[ $replies -eq $count ]] || { echo "kelvo-cli $*: $replies of $count replies" >&2; tail -5 "$work/kelvo.out" >&2; exit 1; }
    qps=$(awk -v n="$count" -v f="$full" -v b="$base" 'BEGIN { d = f - b; printf "%.0f", (d > 0 ? (n - 1) / d : 0) }')
    (( qps > best )) && best=$qps
  done
  echo "$best"
}

lxi_rate() {
  local best=0 out qps
  for ((r = 0; r < rounds; r++)); do
    out=$(lxi benchmark -a 127.0.0.1 -c "$count" "$@" 2>&1) || { echo "lxi: $out" >&2; exit 1; }
    qps=$(echo "$out" | grep -oE '[0-9]+([.][0-9]+)? requests/second' | grep -oE '^[0-9]+([.][0-9]+)?' | tail -1)
    [[ -n $qps ]] || { echo "lxi: no rate in: $out" >&2; exit 1; }
    qps=${qps%.*}
    (( qps > best )) && best=$qps
  done
  echo "$best"
}

start_sim '^listening on ' --config "$work/bench.yaml" --device dmm --listen 127.0.0.1:0 --greeting ''
raw_port=$port
echo "raw socket, $count ENTER ;*IDN? lines (best of $rounds):"
echo "  kelvo-cli --protocol raw:   $(kelvo_rate --protocol raw --port "$raw_port") queries/s"
if command -v lxi >/dev/null 2>&1; then
  echo "  lxi benchmark -r:           $(lxi_rate -r -p "$raw_port") queries/s"
fi

# VXI-11 on port 111 when it is free (pyvisa-py needs it), else on a free port.
portmap=111
if ss -ltn 2>/dev/null | grep -qE '[:.]111 '; then portmap=0; fi
start_sim ' portmap$' --config "$work/bench.yaml" --portmap-port "$portmap"
pm_port=$port
echo "VXI-11, $count ENTER ;*IDN? lines (best of $rounds):"
echo "  kelvo-cli --protocol vxi11: $(kelvo_rate --protocol vxi11 --port "$pm_port") queries/s"
if command -v lxi >/dev/null 2>&1; then
  echo "  lxi benchmark (VXI-11):     $(lxi_rate -p "$pm_port") queries/s"
fi

# The block: 20 reads in one command file, against one read, as above.
blocks=20
for ((i = 0; i < blocks; i++)); do echo "ENTER SD FD $work/block.bin ;BLK?"; done >"$work/blk.txt"
echo "ENTER SD FD $work/block.bin ;BLK?" >"$work/blk1.txt"
best=
for ((r = 0; r < rounds; r++)); do
  base=$(run_kelvo "$work/blk1.txt" --protocol vxi11 --port "$pm_port")
  full=$(run_kelvo "$work/blk.txt" --protocol vxi11 --port "$pm_port")
  [[ $(stat -c %s "$work/block.bin") -ge 500000 ]] || { echo "kelvo-cli: short block" >&2; exit 1; }
  ms=$(awk -v n="$blocks" -v f="$full" -v b="$base" 'BEGIN { printf "%.2f", (f - b) * 1000 / (n - 1) }')
  if [[ -z $best ]] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$ms; fi
done
echo "VXI-11, 500000-byte block:"
echo "  kelvo-cli ENTER SD FD:      $best ms a read (best of $rounds)"
if [[ $pm_port == 111 ]] && /usr/bin/python3 -c 'import pyvisa' 2>/dev/null; then
  /usr/bin/python3 - <<'PY'
import statistics, time, pyvisa
inst = pyvisa.ResourceManager("@py").open_resource("TCPIP::127.0.0.1::INSTR")
inst.timeout = 10000
times = []
for _ in range(20):
    start = time.perf_counter()
    data = inst.query_binary_values("BLK?", datatype="B", container=bytes, header_fmt="ieee")
    times.append(time.perf_counter() - start)
    assert len(data) == 500000, len(data)
inst.close()
print(f"  pyvisa-py query_binary_values: {statistics.median(times) * 1000:.2f} ms a read (median of 20)")
PY
else
  echo "  pyvisa-py: skipped (port 111 is taken, or pyvisa is missing)"
fi
