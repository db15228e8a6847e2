#!/usr/bin/env bash
# Queries per second of a command file: COUNT lines of «ENTER ; *IDN?» run by
# kelvo-cli over TCP/IP against kelvo-instsim, side by side with
# «lxi benchmark -r -c COUNT» (Debian package lxi-tools) against a second
# simulator that sends no greeting (lxi expects none).
#
# usage: bench/command_file_idn.sh [BUILD_DIR] [COUNT] [ROUNDS]
#   BUILD_DIR  the CMake build folder (default: build)
#   COUNT      queries per run (default: 1000)
#   ROUNDS     runs of each program; the best is reported (default: 5)
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

# Starts a simulator on a free port with the given greeting; prints the port.
start_sim() {
  local out=$work/sim$#-$RANDOM.out
  "$sim" --listen 127.0.0.1:0 --greeting "$1" >"$out" 2>&1 &
  pids+=($!)
  local line=
  for _ in $(seq 200); do
    line=$(grep -m1 '^listening on ' "$out" || true)
    [[ -n $line ]] && break
    sleep 0.01
  done
  [[ -n $line ]] || { echo "kelvo-instsim did not start: $(cat "$out")" >&2; exit 1; }
  echo "${line##*:}"
}

now() { date +%s.%N; }

kelvo_port=$(start_sim '100 Connection accepted')
for ((i = 0; i < count; i++)); do echo 'ENTER ; *IDN?'; done >"$work/idn.txt"

echo 'ENTER ; *IDN?' >"$work/one.txt"

# Runs kelvo-cli on a command file; prints the seconds it took.
run_kelvo() {
  local start end
  start=$(now)
  echo "RUN $1" | "$cli" --tcpip --port "$kelvo_port" >"$work/kelvo.out"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

# The start of the program, the connection and the pause after closing it are
# the same for a file of one line: its time is taken off, so that the rate
# counts the queries alone, as lxi's does.
best_kelvo=0
for ((r = 0; r < rounds; r++)); do
  base=$(run_kelvo "$work/one.txt")
  full=$(run_kelvo "$work/idn.txt")
  replies=$(grep -c '^KELVO' "$work/kelvo.out" || true)
  [[ $replies -eq $count ]] || { echo "kelvo-cli: $replies of $count replies" >&2; tail -5 "$work/kelvo.out" >&2; exit 1; }
  grep -q 'No Errors Detected' "$work/kelvo.out" || { echo "kelvo-cli: errors in the run" >&2; exit 1; }
  qps=$(awk -v n="$count" -v f="$full" -v b="$base" 'BEGIN { d = f - b; printf "%.0f", (d > 0 ? (n - 1) / d : 0) }')
  (( qps > best_kelvo )) && best_kelvo=$qps
done
echo "kelvo-cli RUN of $count ENTER ; *IDN? lines: $best_kelvo queries/s (best of $rounds)"

if command -v lxi >/dev/null 2>&1; then
  lxi_port=$(start_sim '')
  best_lxi=0
  for ((r = 0; r < rounds; r++)); do
    out=$(lxi benchmark -a 127.0.0.1 -p "$lxi_port" -r -c "$count" 2>&1) || { echo "lxi: $out" >&2; exit 1; }
    qps=$(echo "$out" | grep -oE '[0-9]+([.][0-9]+)? requests/second' | grep -oE '^[0-9]+([.][0-9]+)?' | tail -1)
    [[ -n $qps ]] || { echo "lxi: no rate in: $out" >&2; exit 1; }
    qps=${qps%.*}
    (( qps > best_lxi )) && best_lxi=$qps
  done
  echo "lxi benchmark -r -c $count:              $best_lxi queries/s (best of $rounds)"
else
  echo "lxi benchmark: not installed (Debian package lxi-tools)"
fi
