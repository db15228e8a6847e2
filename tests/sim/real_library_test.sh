#!/usr/bin/env bash
# The simulated libgpib.so.0 against the real Linux GPIB library (built from the
# third-party copy): the same exported names, and a C program compiled with the
# real headers that runs on the simulated bus.
# Usage: real_library_test.sh THIRD_PARTY_DIR SIMULATED_LIBRARY TESTS_SIM_DIR WORK_DIR
set -euo pipefail
third_party=$1 sim_lib=$2 tests=$3 work=$4
if [ ! -x "$third_party/build-libgpib" ]; then
  echo "SKIP: no Linux GPIB library sources at $third_party"
  exit 77
fi
mkdir -p "$work"
# A sanitizer build preloads its runtime for the C program; the compilers and
# tools run without it (under it, building the library takes minutes).
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
# The real library is built once per build tree: the copy the build made for
# the golden runs when there is one, else one of this test's own.
real=$work/real-libgpib
if [ -e "$work/../real-libgpib/lib/libgpib.so.0" ]; then
  real=$(cd "$work/../real-libgpib" && pwd)
elif [ ! -e "$real/lib/libgpib.so.0" ]; then
  rm -rf "$real"
  "$third_party/build-libgpib" "$real" >"$work/build-libgpib.log" 2>&1 || { cat "$work/build-libgpib.log"; exit 1; }
fi

names() { nm -D --defined-only "$1" | awk '{ sub(/@.*/, "", $3); if ($3 != "GPIB_DUMMY_VERSION") print $3 }' | sort -u; }
if ! diff <(names "$real/lib/libgpib.so.0") <(names "$sim_lib") >"$work/names.diff"; then
  echo "exported names differ (< real, > simulated):"
  cat "$work/names.diff"
  exit 1
fi
echo "exported names: $(names "$sim_lib" | wc -l), the same as the real library's"

run=$work/c-api
rm -rf "$run" && mkdir -p "$run"
cc -std=c11 -Wall -Wextra -Werror -I "$real/include" "$tests/c_api_test.c" -o "$run/c_api_test" \
  -L "$(dirname "$sim_lib")" -l:libgpib.so.0
GPIB_SIM_CONFIG=$tests/data/c_api_bench.yaml GPIB_SIM_TRACE=$run/trace.txt \
  LD_LIBRARY_PATH=$(dirname "$sim_lib") LD_PRELOAD=$preload "$run/c_api_test" "$run"
# Every call that moves bytes shows in the trace: the serial poll, the files, the lists.
for line in 'CMD 3f 20 18 46' 'RD 50' 'CMD 19 5f' 'WRT 2a 49 44 4e 3f 0a EOI' 'RD 4b 45 4c 56 4f 2c 43 54 2d 31 0a END' \
            'CMD 3f 5f 40 25 26' 'WRT 2a 43 4c 53 0a EOI' 'CMD 45 09' 'GTS' 'CAC' 'REN 0'; do
  grep -qxF "$line" "$run/trace.txt" || { echo "trace lacks: $line"; exit 1; }
done
echo "trace: $(wc -l <"$run/trace.txt") lines"
