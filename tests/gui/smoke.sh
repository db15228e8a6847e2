#!/usr/bin/env bash
# Smoke test of the real program: under a virtual X server it types a command
# line into the window, captures the window, and checks that the picture shows
# the prompt row above coloured output; then it selects a reply with the mouse,
# copies it and reads the clipboard, and pastes command lines that run.
#
#   smoke.sh PATH-TO-kelvo
# KELVO_SMOKE_SHOT=FILE keeps the last screenshot (with the status bar) there,
# in the format its name ends with. smoke_pixels.py beside this script reads
# the pictures.
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  program=$1
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # A copy of its own, so that its history file lands in the scratch folder.
  cp "$program" "$work/kelvo"
  # The interpreter itself: a launcher such as pyenv's shim takes seconds to
  # start, once per picture.
  KELVO_SMOKE_PYTHON=${KELVO_SMOKE_PYTHON:-$(python3 -c 'import sys; print(sys.executable)')}
  export KELVO_SMOKE_PYTHON
  status=0
  xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside "$work" || status=$?
  exit $status
fi

work=$2
pixels() { "$KELVO_SMOKE_PYTHON" -S "$(dirname "$0")/smoke_pixels.py" "$@"; }
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
  sleep 0.05
done
[ -n "$wid" ] || fail "no window appeared"
title=$(xdotool getwindowname "$wid")
case "$title" in
  "Kelvo Instrument Console "[0-9]*) ;;
  *) fail "unexpected window title '$title'" ;;
esac

xdotool windowfocus --sync "$wid"
xdotool type --delay 5 'xyz'
xdotool key Return

# The reply is an error in red and hints in green below the prompt row; wait
# until both are on the screen.
shot() { import -window "$wid" -depth 8 "ppm:$work/shot.ppm"; }
found=""
for _ in $(seq 100); do
  shot
  result=$(pixels reply "$work/shot.ppm")
  case "$result" in
    red=0*|*green=0\ *|*promptInk=0) ;;
    *) found=$result; break ;;
  esac
  sleep 0.05
done
[ -n "$found" ] || fail "the picture shows no prompt above coloured output ($result)"
echo "smoke: window '$title': $found"

# The top left of the dark blue words of the first reply line, in the picture.
blue_text_at() {
  shot
  pixels blue "$work/shot.ppm"
}

# Selects the reply line with a triple click, copies it with Ctrl+Shift+C and
# prints what the clipboard then holds, waiting a little for it to read "$1".
copy_reply_line() {
  read -r x y <<<"$place"
  xdotool mousemove --window "$wid" $((x + 4)) $((y + 4))
  xdotool click --repeat 3 --delay 40 1
  xdotool key ctrl+shift+c
  for _ in $(seq 10); do
    text=$(xclip -o -selection clipboard 2>/dev/null || true)
    [ "$text" = "$1" ] && break
    sleep 0.03
  done
  printf '%s' "$text"
}

# Waits until the first reply line, selected and copied, reads "$1".
expect_reply() {
  copied=""
  for _ in $(seq 60); do
    place=$(blue_text_at)
    if [ -n "$place" ]; then
      copied=$(copy_reply_line "$1")
      [ "$copied" = "$1" ] && return 0
    fi
    sleep 0.05
  done
  fail "the clipboard holds '$copied' after copying the reply, not '$1'"
}

xdotool key --window "$wid" Escape
xdotool type --delay 5 'end'
xdotool key Return
expect_reply "END message: LF"
primary=$(xclip -o -selection primary 2>/dev/null || true)
[ "$primary" = "END message: LF" ] || fail "the primary selection holds '$primary'"

# Two command lines pasted at once run in turn.
printf 'end crlf\nend\n' | xclip -selection clipboard
xdotool key --window "$wid" Escape
xdotool key ctrl+shift+v
expect_reply "END message: CRLF"

# The middle button pastes the primary selection: the first line runs, the
# second waits in the prompt row for Enter.
printf 'end lf\nend' | xclip -selection primary
xdotool key --window "$wid" Escape
xdotool mousemove --window "$wid" 200 200 click 2
sleep 0.3
xdotool key Return
expect_reply "END message: LF"

# The status bar shows the settings: the lowest rows of the picture hold ink.
shot
ink=$(pixels status "$work/shot.ppm")
[ "$ink" -gt 20 ] || fail "no status bar text at the bottom of the window"
[ -n "${KELVO_SMOKE_SHOT:-}" ] && convert "$work/shot.ppm" "$KELVO_SMOKE_SHOT"
echo "smoke: copied and pasted through the clipboard and the primary selection; status bar ink $ink"
