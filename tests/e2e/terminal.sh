#!/bin/bash
# kelvo-cli at a real terminal (a tmux pane): line editing, recall from the
# history file of an earlier run, Tab completion, PAUSE, colours, Ctrl+C and
# Ctrl+D.
# Usage: terminal.sh PATH/TO/kelvo-cli
set -u
CLI=$1
command -v tmux >/dev/null || { echo "skipped: tmux is not installed"; exit 0; }

WORK=$(mktemp -d)
SOCKET=
runs=0
stop() { [ -n "$SOCKET" ] && tmux -S "$SOCKET" kill-server 2>/dev/null; }
cleanup() { stop; rm -rf "$WORK"; }
trap cleanup EXIT
touch "$WORK/Script1.txt" "$WORK/other.txt"
export KELVO_HISTORY_FILE=$WORK/kelvo.HIS

# The first failure ends the run (and the trap the pane's program), so that a
# hung program neither makes the later checks wait out their time nor outlives
# the test.
fail() { echo "FAIL: $*"; echo "--- pane:"; screen; echo "---"; exit 1; }
screen() { tmux -S "$SOCKET" capture-pane -p -N -t k "$@"; }
keys() { tmux -S "$SOCKET" send-keys -t k "$@"; }

# Starts kelvo-cli in a fresh pane; the pane says how it ended.
start() {
  stop
  runs=$((runs + 1))
  SOCKET=$WORK/tmux.$runs  # a server of its own for each run
  tmux -S "$SOCKET" new-session -d -s k -x 120 -y 30 \
    "cd '$WORK' && env $1 '$CLI' $2; echo \"EXIT=\$?\"; sleep 60"
  wait_for '^>' || fail "no prompt from: $1 $2"
}

# Waits (at most 10 s) until the pane shows a line matching the pattern.
wait_for() {
  local i
  for ((i = 0; i < 200; i++)); do
    screen | grep -qE -- "$1" && return 0
    sleep 0.05
  done
  return 1
}

# A first run types a line and ends with Ctrl+D; the next one recalls it with Up.
start "" ""
keys "timeout   5" Enter
wait_for '^>TIMEOUT|^>timeout' || fail "the typed line is not shown"
keys C-d
wait_for '^EXIT=0$' || fail "Ctrl+D on an empty line does not end the program with status 0"
start "" ""
keys Up
wait_for '^>TIMEOUT 5 *$' || fail "Up does not recall the line of the earlier run"
keys C-c
wait_for '^> *$' || fail "Ctrl+C does not clear the line"
screen | grep -q '^EXIT=' && fail "Ctrl+C at the prompt ends the program"
# SIGINT from elsewhere at the prompt does the same, once: typing goes on.
keys "BEEP"
wait_for '^>BEEP *$' || fail "BEEP is not shown"
kill -INT "$(pgrep -P "$(tmux -S "$SOCKET" display -p -t k '#{pane_pid}')")"
wait_for '^> *$' || fail "SIGINT at the prompt does not clear the line"

# Completion: a command word, the options of a command, a file name.
keys "ent" Tab
wait_for '^>ENTER  *$' || fail "ent<Tab> does not complete ENTER"
keys "5 F" Tab
wait_for '^FD  FO  FO2  FO3 *$' || fail "ENTER 5 F<Tab> does not list FD FO FO2 FO3"
keys C-u "RUN scr" Tab
wait_for '^>RUN script1.txt  *$' || fail "RUN scr<Tab> does not complete the file name in the typed case"
keys C-u "OUTPUT 7 ;ent" Tab
wait_for '^>OUTPUT 7 ;ent *$' || fail "a word behind ';' was touched"
keys C-c C-d
wait_for '^EXIT=0$' || fail "the program did not end after Ctrl+C then Ctrl+D"

# PAUSE takes one key, which does not become part of the next line.
start "" ""
keys "PAUSE" Enter
wait_for '^Press any key to continue' || fail "PAUSE does not ask for a key"
keys "k"
keys "BEEP OFF" Enter
wait_for '^>BEEP OFF *$' || fail "the key PAUSE took became part of the next line"

# Colours: with --color=always an error is coloured; with NO_COLOR=1 nothing is.
ESC=$(printf '\033')
start "" "--color=always"
keys "QQQ" Enter
wait_for 'Unrecognized' || fail "no answer to QQQ"
screen -e | grep -q "${ESC}\[[39][0-9]m" || fail "no colour with --color=always"
start "NO_COLOR=1" ""
keys "QQQ" Enter
wait_for 'Unrecognized' || fail "no answer to QQQ"
screen -e | grep -q "${ESC}\[[39][0-9]m" && fail "colours despite NO_COLOR=1"

echo "all terminal checks passed"
