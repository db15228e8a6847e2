# Sourced by the benchmark scripts: the built programs, a scratch folder, the
# simulators they start (all gone on exit), and the timing of runs.

# Sets root, build, cli, sim and work from the build folder (default: build).
bench_init() {
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=${1:-build}
  [[ $build = /* ]] || build=$root/$build
  cli=$build/src/cli/kelvo-cli
  sim=$build/sim/kelvo-instsim
  for program in "$cli" "$sim"; do
    [[ -x $program ]] || { echo "missing $program: build first" >&2; exit 1; }
  done
  work=$(mktemp -d)
  pids=()
  trap bench_cleanup EXIT
}

bench_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

# Starts kelvo-instsim with the arguments and waits for its line matching
# PATTERN; the port on that line is left in $port. (Not to be run in a
# subshell: the simulator's process id must reach the cleanup.)
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

# Runs kelvo-cli with the options on the command lines in the file INPUT;
# prints the seconds it took and the processor seconds it used. Its output is
# left in $work/kelvo.out.
time_kelvo() {
  local input=$1
  shift
  local TIMEFORMAT='%R %U %S' times
  times=$({ time "$cli" "$@" <"$input" >"$work/kelvo.out" 2>"$work/kelvo.err"; } 2>&1)
  echo "$times" | awk '{ print $1, $2 + $3 }'
}

# One run of `lxi benchmark` with the options: prints its rate (requests/s)
# and the processor seconds it used.
lxi_rate() {
  local TIMEFORMAT='%U %S' times rate
  times=$({ time lxi benchmark "$@" >"$work/lxi.out" 2>&1; } 2>&1) || { echo "lxi: $(tail -c 300 "$work/lxi.out")" >&2; exit 1; }
  rate=$(grep -oE '[0-9]+([.][0-9]+)? requests/second' "$work/lxi.out" | grep -oE '^[0-9]+([.][0-9]+)?' | tail -1)
  [[ -n $rate ]] || { echo "lxi: no rate in: $(tail -c 300 "$work/lxi.out")" >&2; exit 1; }
  echo "${rate%.*} $(echo "$times" | awk '{ print $1 + $2 }')"
}

# The numbers given, as "median (lowest to highest)" in the printf FORMAT.
spread() {
  local format=$1
  shift
  printf '%s\n' "$@" | sort -g | awk -v f="$format" '
    { v[NR] = $1 }
    END {
      m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf f " (" f " to " f ")", m, v[1], v[NR]
    }'
}
