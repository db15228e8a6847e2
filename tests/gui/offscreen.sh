#!/usr/bin/env bash
# The real program on Qt's offscreen platform: --version answers without a
# display, and a termination request ends the program as its window's close
# request does, with the history file saved.
#
#   offscreen.sh PATH-TO-kelvo VERSION
set -euo pipefail
program=$1
fail() { echo "offscreen: $*" >&2; exit 1; }

version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version) || fail "--version ended with status $?"
[ "$version" = "kelvo $2" ] || fail "--version printed '$version'"

work=$(mktemp -d)
KELVO_HISTORY_FILE="$work/kelvo.HIS" QT_QPA_PLATFORM=offscreen "$program" >"$work/log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
# Ready once it catches SIGTERM (bit 15 of the caught signals).
for _ in $(seq 200); do
  mask=$(sed -n 's/^SigCgt:\s*//p' "/proc/$pid/status" 2>/dev/null) || fail "the program ended: $(cat "$work/log")"
  [ -n "$mask" ] && (( (0x$mask >> 14) & 1 )) && break
  sleep 0.02
done
kill -TERM $pid
status=0
wait $pid || status=$?
[ $status = 0 ] || fail "SIGTERM ended the program with status $status: $(cat "$work/log")"
[ "$(stat -c %s "$work/kelvo.HIS" 2>/dev/null)" = 6996 ] || fail "no history file after SIGTERM"
echo "offscreen: $version; SIGTERM ended the program and saved its history"
