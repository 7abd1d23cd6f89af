#!/usr/bin/env bash
# vdirsyncer syncs the service's calendar both ways with a local folder, as a
# phone or a desktop calendar keeps its copy: it finds the calendar from the
# base address, takes every entry, sends entries made, changed and deleted in
# the folder, and takes a workstation's change; a second, fresh folder then
# finds the result.
#
# Environment as for caldav_client.py (DAV_URL, DAV_USER, DAV_PASSWORD, and
# DAV_PRIVATE_SUMMARY, DAV_WORKSTATION_CHANGE when set).
# Exits 77 (skipped) when vdirsyncer is missing.
set -uo pipefail
command -v vdirsyncer >/dev/null 2>&1 || { echo "SKIP: vdirsyncer is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quorla-vdirsyncer-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# configure <name>: a phone of its own, its folder and its sync state.
configure() {
  mkdir -p "$work/$1/calendars" "$work/$1/status"
  cat > "$work/$1/config" <<EOF
[general]
status_path = "$work/$1/status/"

[pair office]
a = "phone"
b = "service"
collections = ["from b"]

[storage phone]
type = "filesystem"
path = "$work/$1/calendars/"
fileext = ".ics"

[storage service]
type = "caldav"
url = "$DAV_URL"
username = "$DAV_USER"
password = "$DAV_PASSWORD"
EOF
}
sync() { # <name>
  vdirsyncer -c "$work/$1/config" discover < <(yes) > "$work/$1/discover.log" 2>&1 \
    || fail "discover: $(cat "$work/$1/discover.log")"
  vdirsyncer -c "$work/$1/config" sync > "$work/$1/sync.log" 2>&1 || fail "sync: $(cat "$work/$1/sync.log")"
}
folder() { # <name>: the one calendar's folder
  local found=("$work/$1/calendars"/*/)
  [ ${#found[@]} -eq 1 ] && [ -d "${found[0]}" ] || fail "not one calendar in $1: ${found[*]}"
  echo "${found[0]}"
}
holds() { grep -rlq -- "SUMMARY:$2" "$1"; }
event() { # <uid> <summary>
  printf 'BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quorla tests//EN\r\nBEGIN:VEVENT\r\nUID:%s\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:20260304T140000Z\r\nDURATION:PT1H\r\nSUMMARY:%s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n' "$1" "$2"
}

configure phone
sync phone
calendar=$(folder phone)
holds "$calendar" "Week meeting" || fail "the first sync did not bring the week's entry"
if [ -n "${DAV_PRIVATE_SUMMARY:-}" ] && holds "$calendar" "$DAV_PRIVATE_SUMMARY"; then
  fail "another's private entry reached the phone"
fi
echo "first sync: $(ls "$calendar" | wc -l) entries"

# Made on the phone, then one changed and one deleted there.
event vdir-kept "Made on the phone" > "$calendar/vdir-kept.ics"
event vdir-gone "Deleted on the phone" > "$calendar/vdir-gone.ics"
sync phone
event vdir-kept "Changed on the phone" > "$calendar/vdir-kept.ics"
rm "$calendar/vdir-gone.ics"
sync phone
echo "phone: made, changed and deleted entries sent"

if [ -n "${DAV_WORKSTATION_CHANGE:-}" ]; then
  event "vdir-workstation-$$" "Entered for the phone" > "$work/workstation.ics"
  # The command is shell words, as for caldav_client.py; the file comes last.
  bash -c "$DAV_WORKSTATION_CHANGE \"\$0\"" "$work/workstation.ics" > "$work/workstation.log" 2>&1 \
    || fail "workstation change: $(cat "$work/workstation.log")"
  sync phone
  holds "$calendar" "Entered for the phone" || fail "a workstation's change did not reach the phone"
  echo "workstation change taken by the phone"
fi

# A second phone finds what the first one sent.
configure second
sync second
fresh=$(folder second)
holds "$fresh" "Changed on the phone" || fail "the change made on the phone is not on the service"
holds "$fresh" "Made on the phone" && fail "the entry's old text is still on the service"
holds "$fresh" "Deleted on the phone" && fail "the entry deleted on the phone is still on the service"
[ "$(ls "$fresh" | wc -l)" -eq "$(ls "$calendar" | wc -l)" ] || fail "the phones hold $(ls "$calendar" | wc -l) and $(ls "$fresh" | wc -l) entries"

# Clean up what this run made, through the phone.
rm -f "$calendar/vdir-kept.ics"
sync phone
echo "PASS"
