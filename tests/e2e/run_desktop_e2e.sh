#!/usr/bin/env bash
# End to end on a desktop: the real program under a virtual X server with a
# window manager (openbox) and a notification area (trayer), as an office runs
# it. A bare X server hides what a window manager does with hidden and
# minimised windows, so these run here:
# - second starts, five in a row, each show "already running" until it is
#   answered, then end with status 0, and the first goes on;
# - an alarm comes up as the pop-up (screenshot) and is switched off;
# - minimised into the notification area, a message box (an alarm whose event
#   is missing) comes and is closed, and the program still runs.
# Screenshots of the main window (its command bar) and of the alarm pop-up go
# to the output folder.
#
#   run_desktop_e2e.sh <path to quorla> <path to e2e_alarm> <output folder>
#
# Exits 77 (skipped) when a tool is missing.
set -euo pipefail

program=$1
alarm=$2
outdir=${3:-.}
source "$(dirname "$0")/../common/desktop.sh"
desktop_need xvfb-run xdotool openbox import
desktop_workstation desktop db
mkdir -p "$outdir"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
program=$1; alarm=$2; work=$3; outdir=$4
source "$QUORLA_DESKTOP"
desktop_session "$work" e2euser

openbox --sm-disable > "$work/openbox.log" 2>&1 &
wm=$!
tray=""
if command -v trayer >/dev/null 2>&1; then
  trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 > "$work/trayer.log" 2>&1 &
  tray=$!
fi
pids=()
cleanup() {
  for p in "${pids[@]}" $tray $wm; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT
sleep 1

fail() { echo "FAIL: $*"; cat "$work"/quorla*.log 2>/dev/null || true; exit 1; }
answer() { press "$1" Return; sleep 1; } # a message box: its default button

"$program" > "$work/quorla.log" 2>&1 &
first=$!
pids+=("$first")
box=$(find_window '^Information$' 60) || fail "no welcome message"
answer "$box"
main=$(find_window '^Quorla$' 30) || fail "no main window titled Quorla"
sleep 1

# Second starts, several in a row: each one's message stays on the screen
# until it is answered, then that start ends with 0 and the first goes on.
for attempt in 1 2 3 4 5; do
  "$program" > "$work/quorla-second.log" 2>&1 &
  second=$!
  pids+=("$second")
  box=$(find_window '^Information$' 60) || fail "second start $attempt showed no message"
  sleep 1.5
  xdotool search --onlyvisible --name '^Information$' 2>/dev/null | grep -qx "$box" \
    || fail "second start $attempt: the message closed by itself"
  kill -0 "$second" 2>/dev/null || fail "second start $attempt ended before its message was answered"
  answer "$box"
  await_end "$second" || fail "second start $attempt did not end"
  wait "$second" || fail "second start $attempt ended with an error"
  kill -0 "$first" 2>/dev/null || fail "the first instance ended"
done
echo "second starts: each message stayed until answered, then ended with 0"

xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 1
import -window "$main" "$outdir/quorla_main_window.png" || fail "no screenshot of the main window"

# A due alarm: the pop-up comes with the next poll (every 10 seconds).
"$alarm" event || fail "could not add the alarm"
popup=$(find_window '^Quorla Alarm$' 40) || fail "no alarm pop-up"
sleep 1
import -window "$popup" "$outdir/quorla_alarm_popup.png" || fail "no screenshot of the pop-up"
xdotool windowactivate --sync "$popup" 2>/dev/null || true
xdotool key --clearmodifiers alt+o
sleep 1

# Minimised (into the notification area where there is one), a message comes
# and is closed: the program goes on.
xdotool windowminimize --sync "$main" || fail "could not minimise"
sleep 1
if xdotool search --onlyvisible --name '^Quorla$' >/dev/null 2>&1; then
  echo "minimised to the task bar (no notification area)"
else
  echo "minimised into the notification area"
fi
"$alarm" orphan || fail "could not add the orphan alarm"
box=$(find_window '^Information$' 40) || fail "no message while minimised"
answer "$box"
sleep 3
kill -0 "$first" 2>/dev/null || fail "the program ended after a message while minimised"
echo "still running after the message"
kill "$first"
wait "$first" 2>/dev/null || true
echo "PASS"
DRIVE
chmod +x "$work/drive.sh"
desktop_run "$work/drive.sh" "$program" "$alarm" "$work" "$outdir"
