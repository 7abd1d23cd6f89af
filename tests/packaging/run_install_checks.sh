#!/usr/bin/env bash
# Installs a build as the package does (prefix /usr, into a temporary DESTDIR)
# and checks what lands there:
# 1. the desktop entry passes desktop-file-validate and the AppStream data
#    appstreamcli validate --no-net (and validate-tree, which finds the entry it
#    launches); the entry's Icon and Exec name an installed icon and program;
# 2. every installed program has a manual page, each formats without a
#    warning, and quorla's names every long option of quorla --help;
# 3. every installed program answers --help and --version on standard output
#    with status 0 and refuses an unknown option on standard error with status
#    2, all without a display; without one, quorla --database records a folder
#    and ends with status 0;
# 4. started from the Exec line of its desktop entry under Xvfb, on a
#    workstation without settings, the installed program shows the first-start
#    message and then the folder picker; cancelling the picker ends it with the
#    error box and exit status 1, and nothing is recorded;
# 5. systemd reads the units of the CalDAV service and of the nightly backup
#    (service and timer) without a remark (their programs and manual pages
#    are the installed ones), and their example settings are installed.
#
#   run_install_checks.sh <build folder> <folder for logs>
#
# Exits 77 (skipped) when one of the tools is missing.
set -euo pipefail

build=$1
outdir=$2
source "$(dirname "$0")/../common/desktop.sh"
desktop_need desktop-file-validate appstreamcli man xvfb-run xauth xdotool
desktop_workstation install
mkdir -p "$outdir"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr > "$outdir/install.log"
usr=$work/root/usr

# 1. Desktop entry and AppStream data.
desktops=("$usr"/share/applications/*.desktop)
[ ${#desktops[@]} -eq 1 ] && [ -f "${desktops[0]}" ] || { echo "FAIL: not one desktop entry: ${desktops[*]}"; exit 1; }
desktop=${desktops[0]}
id=$(basename "$desktop" .desktop)
# It prints nothing for a valid entry; a hint or a warning counts as a failure too.
report=$(desktop-file-validate "$desktop" 2>&1) || true
[ -z "$report" ] || fail "desktop-file-validate says: $report"
echo "desktop-file-validate $id.desktop: ${report:-no remark}"
metainfo=$usr/share/metainfo/$id.metainfo.xml
[ -f "$metainfo" ] || fail "no AppStream data $metainfo"
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli validate"
appstreamcli validate-tree --no-net --strict "$usr" || fail "appstreamcli validate-tree"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the entry's icon '$icon' is not installed"
# The Exec line without its field codes, run with the installed programs first on PATH.
read -r -a command <<< "$(sed -n 's/^Exec=//p' "$desktop" | sed 's/ %[fFuUdDnNickvm]//g')"
[ -x "$usr/bin/${command[0]}" ] || fail "the entry's Exec '${command[0]}' is not an installed program"

# 2. Manual pages.
for program in "$usr"/bin/*; do
  [ -f "$usr/share/man/man1/$(basename "$program").1.gz" ] || fail "no manual page for $(basename "$program")"
done
for page in "$usr"/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page") formats with warnings: $warnings"
done
page=$usr/share/man/man1/quorla.1.gz
if [ -f "$page" ]; then
  for option in $(env -u DISPLAY "$usr/bin/quorla" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    zcat "$page" | grep -q -- "$(printf '%s' "$option" | sed 's/-/\\\\-/g')" || fail "quorla.1 does not name $option"
  done
else
  fail "no manual page quorla.1"
fi

# 3. Every installed program's command line, with no display to open.
for program in "$usr"/bin/*; do
  name=$(basename "$program")
  for option in --help --version --no-such-option; do
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$option" > "$work/out" 2> "$work/err" || status=$?
    case $option in
      --help)
        [ $status -eq 0 ] && [ ! -s "$work/err" ] && head -n 1 "$work/out" | grep -q "^Usage: $name " \
          || fail "$name --help: status $status, $(head -c 300 "$work/out" "$work/err")" ;;
      --version)
        [ $status -eq 0 ] && [ ! -s "$work/err" ] && head -n 1 "$work/out" | grep -Eq "^$name \(Quorla\) [0-9]" \
          || fail "$name --version: status $status, $(head -c 300 "$work/out" "$work/err")" ;;
      *)
        [ $status -eq 2 ] && [ ! -s "$work/out" ] \
          && grep -q "^$name: unrecognized option '--no-such-option'" "$work/err" \
          && grep -q "^Try '$name --help' for more information.$" "$work/err" \
          || fail "$name $option: status $status, $(head -c 300 "$work/out" "$work/err")" ;;
    esac
  done
  echo "$name: --help, --version and an unknown option answered"
done
mkdir -p "$work/console/config" "$work/console/db"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/console/config" \
  "$usr/bin/quorla" --database "$work/console/db" > "$work/out" 2> "$work/err" || status=$?
[ $status -eq 0 ] && grep -qx "RootPath=$work/console/db" "$work/console/config/KLV/Quorla.conf" \
  || fail "quorla --database without a display: status $status, $(head -c 300 "$work/out" "$work/err")"

# 5. The units of the CalDAV service and the nightly backup, pointed at the
# installed files (a timer is verified beside the service it starts).
for name in quorla-dav.service quorla-backup.service quorla-backup.timer; do
  unit=$work/root/lib/systemd/system/$name
  if [ ! -f "$unit" ]; then
    fail "no unit $name"
  elif command -v systemd-analyze >/dev/null 2>&1; then
    sed "s|/usr/bin/|$usr/bin/|" "$unit" > "$work/$name"
    report=$(cd "$work" && MANPATH=$usr/share/man systemd-analyze verify "$work/$name" 2>&1) \
      && [ -z "$report" ] || fail "systemd-analyze verify $name: $report"
    echo "$name: verified"
  fi
done
for example in quorla-dav.default quorla-backup.default; do
  [ -f "$usr/share/doc/quorla/examples/$example" ] || fail "no example settings $example"
done

# 4. The first start from the desktop entry, on a workstation of its own.
cat > "$work/drive.sh" <<'DRIVE'
#!/usr/bin/env bash
set -uo pipefail
work=$1; usr=$2; shift 2
source "$QUORLA_DESKTOP"
desktop_session "$work" firststart
export PATH="$usr/bin:$PATH"
"$@" > "$work/quorla.log" 2>&1 &
pid=$!
fail() { echo "FAIL: $*"; cat "$work/quorla.log"; import -window root "$QUORLA_SHOT" 2>/dev/null; kill "$pid" 2>/dev/null; exit 1; }
box=$(find_window '^Warning$' 60 "$pid") || fail "no first-start message"
press "$box" Return
picker=$(find_window '^Select Quorla Database Location\?$' 20 "$pid") || fail "no folder picker after the message"
press "$picker" Escape
error=$(find_window '^Error$' 20 "$pid") || fail "no error box after cancelling the picker"
press "$error" Return
await_end "$pid" || fail "the program did not end"
wait "$pid"; status=$?
[ $status -eq 1 ] || fail "exit status $status after a start without a database, not 1"
echo "first start: message, folder picker, error box, exit status 1"
DRIVE
chmod +x "$work/drive.sh"
QUORLA_SHOT="$(cd "$outdir" && pwd)/first_start_failed.png" desktop_run "$work/drive.sh" "$work" "$usr" "${command[@]}" || fail "first start"
if grep -qs '^RootPath=' "$work/config/KLV/Quorla.conf"; then
  fail "a cancelled first start recorded a database: $(cat "$work/config/KLV/Quorla.conf")"
fi

if [ $fails -ne 0 ]; then
  echo "$fails check(s) failed"
  exit 1
fi
echo "PASS"
