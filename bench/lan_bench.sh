#!/usr/bin/env bash
# Kelvo over a raw socket and over VXI-11 beside third-party clients, against
# kelvo-instsim on 127.0.0.1, the two run in turn in every round (which goes
# first alternates), so that both meet the same load:
#   - a command file of COUNT «ENTER ;*IDN?» lines, run REPEAT times by one
#     kelvo-cli (--protocol raw, then vxi11), beside
#     «lxi benchmark -c COUNT*REPEAT» (-r for raw);
#   - the 500,000-byte block read over VXI-11 by kelvo-cli beside pyvisa-py's
#     query_binary_values (pyvisa-py and lxi ask the portmapper on port 111, so
#     they run only when port 111 is free for the simulator's portmapper).
# Each figure is the median of ROUNDS with the lowest and highest; beside the
# rates, the processor time of the client alone, which the machine's load
# touches far less than the rates.
#
# usage: bench/lan_bench.sh [BUILD_DIR] [COUNT] [ROUNDS] [REPEAT]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_init "${1:-build}"
count=${2:-1000}
rounds=${3:-5}
repeat=${4:-10}
queries=$((count * repeat))

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

for ((i = 0; i < count; i++)); do echo 'ENTER ;*IDN?'; done >"$work/idn.txt"
echo 'ENTER ;*IDN?' >"$work/one.txt"
for ((i = 0; i < repeat; i++)); do echo "RUN $work/idn.txt"; done >"$work/run-idn.txt"
echo "RUN $work/one.txt" >"$work/run-one.txt"
lxi=no
command -v lxi >/dev/null 2>&1 && lxi=yes

# One run of kelvo-cli with the options: prints its rate (queries/s) and the
# processor time a query (µs). The program's start and the connection (a run
# of a file of one line) are taken off, as lxi's rate counts the queries alone.
kelvo_rate() {
  local base full replies
  base=$(time_kelvo "$work/run-one.txt" "$@")
  full=$(time_kelvo "$work/run-idn.txt" "$@")
  replies=$(grep -c '^KELVO' "$work/kelvo.out" || true)
  [[ $replies -eq $queries ]] || { echo "kelvo-cli $*: $replies of $queries replies" >&2; tail -5 "$work/kelvo.out" >&2; exit 1; }
  echo "$base $full" | awk -v n="$queries" '{ d = $3 - $1; printf "%.0f %.1f", (d > 0 ? (n - 1) / d : 0), ($4 - $2) * 1e6 / (n - 1) }'
}

# Rounds of kelvo-cli with the options and, when it can run, lxi with LXI_ARGS
# in turn; prints both rates and processor times under the heading.
compare_rates() {
  local heading=$1 kelvo_label=$2 lxi_label=$3 lxi_args=$4 can_lxi=$5
  shift 5
  local kelvo=() kelvo_cpu=() other=() other_cpu=() r out
  for ((r = 0; r < rounds; r++)); do
    if [[ $can_lxi == yes && $((r % 2)) -eq 1 ]]; then out=$(lxi_rate $lxi_args); other+=("${out% *}"); other_cpu+=("$(awk -v c="${out#* }" -v n="$queries" 'BEGIN { print c * 1e6 / n }')"); fi
    out=$(kelvo_rate "$@")
    kelvo+=("${out% *}")
    kelvo_cpu+=("${out#* }")
    if [[ $can_lxi == yes && $((r % 2)) -eq 0 ]]; then out=$(lxi_rate $lxi_args); other+=("${out% *}"); other_cpu+=("$(awk -v c="${out#* }" -v n="$queries" 'BEGIN { print c * 1e6 / n }')"); fi
  done
  echo "$heading"
  echo "  $kelvo_label $(spread %.0f "${kelvo[@]}") queries/s, $(spread %.1f "${kelvo_cpu[@]}") µs of processor a query"
  [[ $can_lxi == yes ]] && echo "  $lxi_label $(spread %.0f "${other[@]}") queries/s, $(spread %.1f "${other_cpu[@]}") µs of processor a query"
  return 0
}

what="$count ENTER ;*IDN? lines run $repeat times, median of $rounds (lowest to highest):"

start_sim '^listening on ' --config "$work/bench.yaml" --device dmm --listen 127.0.0.1:0 --greeting ''
raw_port=$port
compare_rates "raw socket, $what" "kelvo-cli --protocol raw:  " "lxi benchmark -r:          " \
  "-a 127.0.0.1 -p $raw_port -r -c $queries" "$lxi" --protocol raw --port "$raw_port"

# VXI-11 on port 111 when it is free (lxi and pyvisa-py need it), else on a
# free port.
portmap=111
if ss -ltn 2>/dev/null | grep -qE '[:.]111 '; then portmap=0; fi
start_sim ' portmap$' --config "$work/bench.yaml" --portmap-port "$portmap"
pm_port=$port
on111=no
[[ $pm_port == 111 ]] && on111=yes
[[ $on111 == no ]] && echo "(port 111 is taken: lxi and pyvisa-py over VXI-11 are left out)"
vxi_lxi=no
[[ $lxi == yes && $on111 == yes ]] && vxi_lxi=yes
compare_rates "VXI-11, $what" "kelvo-cli --protocol vxi11:" "lxi benchmark (VXI-11):    " \
  "-a 127.0.0.1 -c $queries" "$vxi_lxi" --protocol vxi11 --port "$pm_port"

# The block: a command file of BLOCKS reads against one of one read, as above;
# pyvisa-py's figure is the median of BLOCKS reads in one process.
blocks=50
for ((i = 0; i < blocks; i++)); do echo "ENTER SD FD $work/block.bin ;BLK?"; done >"$work/blk.txt"
echo "ENTER SD FD $work/block.bin ;BLK?" >"$work/blk1.txt"
echo "RUN $work/blk.txt" >"$work/run-blk.txt"
echo "RUN $work/blk1.txt" >"$work/run-blk1.txt"
pyvisa=no
[[ $on111 == yes ]] && /usr/bin/python3 -c 'import pyvisa' 2>/dev/null && pyvisa=yes
pyvisa_read() {
  /usr/bin/python3 - "$blocks" <<'PY'
import statistics, sys, time, pyvisa
inst = pyvisa.ResourceManager("@py").open_resource("TCPIP::127.0.0.1::INSTR")
inst.timeout = 10000
times = []
cpu = time.process_time()
for _ in range(int(sys.argv[1])):
    start = time.perf_counter()
    data = inst.query_binary_values("BLK?", datatype="B", container=bytes, header_fmt="ieee")
    times.append(time.perf_counter() - start)
    assert len(data) == 500000, len(data)
cpu = time.process_time() - cpu
inst.close()
print(f"{statistics.median(times) * 1000:.2f} {cpu * 1000 / len(times):.2f}")
PY
}
kelvo_ms=()
kelvo_cpu=()
pyvisa_ms=()
pyvisa_cpu=()
pyvisa_round() {
  local out
  out=$(pyvisa_read)
  pyvisa_ms+=("${out% *}")
  pyvisa_cpu+=("${out#* }")
}
for ((r = 0; r < rounds; r++)); do
  if [[ $pyvisa == yes && $((r % 2)) -eq 1 ]]; then pyvisa_round; fi
  base=$(time_kelvo "$work/run-blk1.txt" --protocol vxi11 --port "$pm_port")
  full=$(time_kelvo "$work/run-blk.txt" --protocol vxi11 --port "$pm_port")
  [[ $(stat -c %s "$work/block.bin") -ge 500000 ]] || { echo "kelvo-cli: short block" >&2; exit 1; }
  kelvo_ms+=("$(echo "$base $full" | awk -v n="$blocks" '{ printf "%.2f", ($3 - $1) * 1000 / (n - 1) }')")
  kelvo_cpu+=("$(echo "$base $full" | awk -v n="$blocks" '{ printf "%.2f", ($4 - $2) * 1000 / (n - 1) }')")
  if [[ $pyvisa == yes && $((r % 2)) -eq 0 ]]; then pyvisa_round; fi
done
echo "VXI-11, 500000-byte block, median of $rounds (lowest to highest):"
echo "  kelvo-cli ENTER SD FD:          $(spread %.2f "${kelvo_ms[@]}") ms a read (mean of $blocks in a file), $(spread %.2f "${kelvo_cpu[@]}") ms of processor"
if [[ $pyvisa == yes ]]; then
  echo "  pyvisa-py query_binary_values:  $(spread %.2f "${pyvisa_ms[@]}") ms a read (median of $blocks in a process), $(spread %.2f "${pyvisa_cpu[@]}") ms of processor"
else
  echo "  pyvisa-py: skipped (port 111 is taken, or pyvisa is missing)"
fi
