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
source "$(dirname "$0")/../common/desktop.sh"
desktop_need xvfb-run xdotool
desktop_workstation e2e db
mkdir -p "$outdir"

cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; outdir=$3
source "$QUORLA_DESKTOP"
desktop_session "$work" e2euser
"$program" > "$work/quorla.log" 2>&1 &
pid=$!
fail() { echo "FAIL: $*"; cat "$work/quorla.log"; kill "$pid" 2>/dev/null || true; exit 1; }

# A new database: the welcome message for the first administrator.
box=$(find_window '^Information$' 40) || fail "no welcome message"
press "$box" Return
main=$(find_window '^Quorla$' 20) || fail "no main window titled Quorla"
sleep 1
import -window root "$outdir/quorla_e2e.png" || fail "no screenshot"
echo "main window $main; screenshot $outdir/quorla_e2e.png"

# File > Exit asks first; Yes is the default button.
press "$main" ctrl+x
confirm=$(find_window '^Confirm$' 10) || fail "no exit question"
press "$confirm" Return
await_end "$pid" || fail "the program did not end"
wait "$pid" || fail "the program ended with an error"
[ -f "$work/db/QLUsers.Ism" ] || fail "no users dataset"
echo "PASS"
DRIVE
chmod +x "$work/drive.sh"
desktop_run "$work/drive.sh" "$program" "$work" "$outdir"
