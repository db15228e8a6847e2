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
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_init "${1:-build}"
count=${2:-1000}
rounds=${3:-5}

start_sim '^listening on ' --listen 127.0.0.1:0 --greeting '100 Connection accepted'
kelvo_port=$port
for ((i = 0; i < count; i++)); do echo 'ENTER ; *IDN?'; done >"$work/idn.txt"
echo 'ENTER ; *IDN?' >"$work/one.txt"
echo "RUN $work/idn.txt" >"$work/run-idn.txt"
echo "RUN $work/one.txt" >"$work/run-one.txt"

# The start of the program, the connection and the pause after closing it are
# the same for a file of one line: its time is taken off, so that the rate
# counts the queries alone, as lxi's does.
best_kelvo=0
for ((r = 0; r < rounds; r++)); do
  base=$(time_kelvo "$work/run-one.txt" --tcpip --port "$kelvo_port")
  full=$(time_kelvo "$work/run-idn.txt" --tcpip --port "$kelvo_port")
  replies=$(grep -c '^KELVO' "$work/kelvo.out" || true)
  [[ $replies -eq $count ]] || { echo "kelvo-cli: $replies of $count replies" >&2; tail -5 "$work/kelvo.out" >&2; exit 1; }
  grep -q 'No Errors Detected' "$work/kelvo.out" || { echo "kelvo-cli: errors in the run" >&2; exit 1; }
  qps=$(awk -v n="$count" -v f="${full%% *}" -v b="${base%% *}" 'BEGIN { d = f - b; printf "%.0f", (d > 0 ? (n - 1) / d : 0) }')
  (( qps > best_kelvo )) && best_kelvo=$qps
done
echo "kelvo-cli RUN of $count ENTER ; *IDN? lines: $best_kelvo queries/s (best of $rounds)"

if command -v lxi >/dev/null 2>&1; then
  start_sim '^listening on ' --listen 127.0.0.1:0 --greeting ''
  best_lxi=0
  for ((r = 0; r < rounds; r++)); do
    qps=$(lxi_rate -a 127.0.0.1 -p "$port" -r -c "$count")
    qps=${qps%% *}
    (( qps > best_lxi )) && best_lxi=$qps
  done
  echo "lxi benchmark -r -c $count:              $best_lxi queries/s (best of $rounds)"
else
  echo "lxi benchmark: not installed (Debian package lxi-tools)"
fi
