#!/usr/bin/env bash
# End to end: starts the real program under a virtual X server on a new, empty
# database folder with its own settings location, answers the welcome message,
# checks that the main window titled "Quorla" appears, takes a screenshot and
# quits through File > Exit (Ctrl+X, confirmed).
#
#   run_quorla_e2e.sh <path to quorla> <folder for the screenshot>
#
# Exits 77 (skipped) when xvfb-run or xdotool is missing.
set -euo pipefail

program=$1
outdir=${2:-.}
for tool in xvfb-run xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorla-e2e-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config/KLV" "$work/tmp" "$work/db" "$outdir"
# The workstation already knows its database folder, so no folder picker opens.
printf '[General]\nRootPath=%s\n' "$work/db" > "$work/config/KLV/Quorla.conf"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; outdir=$3
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" QT_QPA_PLATFORM=xcb USER=e2euser
export ASAN_OPTIONS=detect_leaks=0
"$program" > "$work/quorla.log" 2>&1 &
pid=$!

fail() { echo "FAIL: $*"; cat "$work/quorla.log"; kill "$pid" 2>/dev/null || true; exit 1; }
find_window() { # name, seconds
  local id=""
  for _ in $(seq 1 $(( $2 * 5 ))); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# A new database: the welcome message for the first administrator.
box=$(find_window '^Information$' 40) || fail "no welcome message"
xdotool windowfocus --sync "$box" key --clearmodifiers Return
main=$(find_window '^Quorla$' 20) || fail "no main window titled Quorla"
sleep 1
import -window root "$outdir/quorla_e2e.png" || fail "no screenshot"
echo "main window $main; screenshot $outdir/quorla_e2e.png"

# File > Exit asks first; Yes is the default button.
xdotool windowfocus --sync "$main" key --clearmodifiers ctrl+x
confirm=$(find_window '^Confirm$' 10) || fail "no exit question"
xdotool windowfocus --sync "$confirm" key --clearmodifiers Return
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then fail "the program did not end"; fi
wait "$pid" || fail "the program ended with an error"
[ -f "$work/db/QLUsers.Ism" ] || fail "no users dataset"
echo "PASS"
DRIVE
chmod +x "$work/drive.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" "$work/drive.sh" "$program" "$work" "$outdir"
