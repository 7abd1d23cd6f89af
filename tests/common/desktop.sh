# The virtual desktop the desktop test scripts run the program on, sourced by
# each of them (and by the driver scripts they run on it, as $QUORLA_DESKTOP):
# the tools check, a workstation of their own, the X server, and finding,
# answering and awaiting the program's windows there.

QUORLA_DESKTOP=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/desktop.sh
export QUORLA_DESKTOP

# Exits 77 (skipped) unless every named tool is installed.
desktop_need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

# A workstation of its own in $work, removed on exit: settings under
# $work/config, temporary files under $work/tmp and, with "db", the new folder
# $work/db recorded as its database (so that no folder picker opens).
desktop_workstation() { # name [db]
  work=$(mktemp -d "${TMPDIR:-/tmp}/quorla-$1-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/config/KLV" "$work/tmp"
  if [ "${2:-}" = db ]; then
    mkdir -p "$work/db"
    printf '[General]\nRootPath=%s\n' "$work/db" > "$work/config/KLV/Quorla.conf"
  fi
}

# Runs `script arguments...` on an X server of its own, 1280x1024.
desktop_run() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }

# On the desktop: the program's environment for the workstation in `work`.
desktop_session() { # work user
  export XDG_CONFIG_HOME="$1/config" TMPDIR="$1/tmp" QT_QPA_PLATFORM=xcb USER=$2
  export ASAN_OPTIONS=detect_leaks=0
}

# The first visible window titled to match, printed; fails after `seconds`, or
# as soon as the process `pid`, when one is named, has ended.
find_window() { # title seconds [pid]
  local id="" _
  for _ in $(seq 1 $(( $2 * 5 ))); do
    id=$(xdotool search --all --onlyvisible ${3:+--pid "$3"} --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    [ -z "${3:-}" ] || kill -0 "$3" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

# Presses `key` in the window `id` (a message box's default button: Return).
press() { # id key
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"
  xdotool key --clearmodifiers "$2"
}

# Waits up to ten seconds for the process `pid` to end; fails if it does not.
await_end() { # pid
  local _
  for _ in $(seq 1 50); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.2
  done
  ! kill -0 "$1" 2>/dev/null
}
