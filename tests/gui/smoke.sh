#!/usr/bin/env bash
# Smoke test of the real program: under a virtual X server it types a command
# line into the window, captures the window, and checks that the picture shows
# the prompt row above coloured output.
#
#   smoke.sh PATH-TO-kelvo
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  program=$1
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # A copy of its own, so that its history file lands in the scratch folder.
  cp "$program" "$work/kelvo"
  status=0
  xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside "$work" || status=$?
  exit $status
fi

work=$2
fail() { echo "smoke: $*" >&2; exit 1; }

# In a sanitizer build: the X keyboard library reads keymap names with strndup
# past their NUL, which the strict string checks report; that is not ours.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0"
"$work/kelvo" >"$work/kelvo.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT

wid=""
for _ in $(seq 100); do
  wid=$(xdotool search --onlyvisible --name '^Kelvo ' 2>/dev/null | head -1 || true)
  [ -n "$wid" ] && break
  kill -0 $pid 2>/dev/null || fail "the program ended: $(cat "$work/kelvo.log")"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window appeared"
title=$(xdotool getwindowname "$wid")
case "$title" in
  "Kelvo Instrument Console "[0-9]*) ;;
  *) fail "unexpected window title '$title'" ;;
esac

xdotool windowfocus --sync "$wid"
xdotool type --delay 20 'xyz'
xdotool key Return

# The reply is an error in red and hints in green below the prompt row; wait
# until both are on the screen.
found=""
for _ in $(seq 50); do
  import -window "$wid" "$work/shot.png"
  convert "$work/shot.png" -depth 8 txt:- | awk -v out="$work/pixels" '
    NR > 1 {
      split($1, p, "[,:]"); x = p[1]; y = p[2]
      c = $2; gsub(/[()]/, "", c); split(c, v, ",")
      if (v[1] > 150 && v[2] < 90 && v[3] < 90) { red++; if (redTop == "" || y < redTop) redTop = y }
      if (v[1] < 90 && v[2] > 90 && v[3] < 90) green++
      if (v[1] < 60 && v[2] < 60 && v[3] < 60 && x < 40) black[y]++
    }
    END {
      band = 0
      if (redTop != "") for (y = redTop - 16; y < redTop; y++) band += black[y]
      printf "red=%d green=%d promptInk=%d\n", red, green, band > out
    }'
  read -r result <"$work/pixels"
  case "$result" in
    red=0*|*green=0\ *|*promptInk=0) ;;
    *) found=$result; break ;;
  esac
  sleep 0.1
done
[ -n "$found" ] || fail "the picture shows no prompt above coloured output ($result)"
echo "smoke: window '$title': $found"
