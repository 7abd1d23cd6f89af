#!/usr/bin/python3
"""A real CalDAV client (python3-caldav, and requests for what a client must
never send) against the service at DAV_URL, one named row per case.

Environment (the driver, tst_davclients, sets it):
  DAV_URL, DAV_USER, DAV_PASSWORD    the service and the person who logs in
  DAV_OTHER_URL                      a calendar of someone else's home
  DAV_WEEK                           YYYY-MM-DD, the Monday of a week holding
                                     WEEK_SUMMARY and none of OUTSIDE_SUMMARY
  DAV_PRIVATE_SUMMARY                another's private entry: never shown
  DAV_OTHERS_SUMMARY                 another's public entry: shown, not his to change
  DAV_HELD_SUMMARY, DAV_HELD_BY      his entry open on a workstation meanwhile,
                                     and the holder's name the refusal gives
  DAV_WORKSTATION_CHANGE             a command that takes an .ics file into the
                                     database as a workstation does
  DAV_BUSY                           JSON: principal path -> busy periods in DAV_WEEK
                                     ("20260304T100000Z/20260304T103000Z"), for two
                                     colleagues and a room (its path holds "resource-")
Rows whose variable is unset are skipped (a peer server without locks).
Exit status: 0 when every row passed, 1 otherwise.
"""
import datetime
import json
import os
import shlex
import subprocess
import sys
import tempfile
import threading
import traceback
import uuid

import xml.etree.ElementTree as ElementTree

import caldav
import requests
import vobject

URL = os.environ["DAV_URL"]
USER = os.environ["DAV_USER"]
PASSWORD = os.environ["DAV_PASSWORD"]
AUTH = (USER, PASSWORD)
WEEK_SUMMARY = "Week meeting"
OUTSIDE_SUMMARY = "Outside the week"

client = caldav.DAVClient(URL, username=USER, password=PASSWORD)
state = {}


def calendar():
    if "calendar" not in state:
        state["calendar"] = client.principal().calendars()[0]
    return state["calendar"]


def summaries(events):
    return sorted(str(e.vobject_instance.vevent.summary.value) for e in events)


def ical(uid, summary, start="20260302T100000Z", description=""):
    extra = "DESCRIPTION:%s\r\n" % description if description else ""
    return ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quorla tests//EN\r\n"
            "BEGIN:VEVENT\r\nUID:%s\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:%s\r\n"
            "DURATION:PT1H\r\nSUMMARY:%s\r\n%sEND:VEVENT\r\nEND:VCALENDAR\r\n"
            % (uid, start, summary, extra))


def by_summary(summary):
    found = [e for e in calendar().events() if str(e.vobject_instance.vevent.summary.value) == summary]
    assert len(found) == 1, "%d entries called %r" % (len(found), summary)
    return found[0]


def raw(method, url, body=None, headers=None, auth=AUTH):
    return requests.request(method, url, data=body, headers=headers or {}, auth=auth, timeout=30)


def sync_token():
    return calendar().objects_by_sync_token().sync_token


def expect(response, statuses, what):
    assert response.status_code in statuses, "%s: %d %s, not %s" % (
        what, response.status_code, response.text[:300], statuses)


def workstation_change(uid, summary):
    with tempfile.NamedTemporaryFile("w", suffix=".ics", delete=False) as f:
        f.write(ical(uid, summary))
    command = shlex.split(os.environ["DAV_WORKSTATION_CHANGE"]) + [f.name]
    done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    os.unlink(f.name)
    assert done.returncode == 0, "%s: %s %s" % (command, done.stdout, done.stderr)


# --- the rows -------------------------------------------------------------

def discovery():
    # The well-known address leads to the service's principal (RFC 6764).
    r = raw("PROPFIND", URL.rstrip("/") + "/.well-known/caldav", headers={"Depth": "0"})
    expect(r, {207, 301, 302, 303, 307, 308}, "PROPFIND /.well-known/caldav")
    principal = client.principal()
    homes = principal.calendar_home_set
    assert homes is not None, "no calendar-home-set"
    assert principal.calendars(), "no calendar in the home"


def listCalendars():
    names = [c.get_display_name() for c in client.principal().calendars()]
    assert names and all(names), "calendars without a name: %r" % names
    assert WEEK_SUMMARY in summaries(calendar().events()), "the week's entry is not listed"


def timeRange():
    monday = datetime.datetime.fromisoformat(os.environ["DAV_WEEK"]).replace(tzinfo=datetime.timezone.utc)
    found = summaries(calendar().date_search(monday, monday + datetime.timedelta(days=7), expand=False))
    assert WEEK_SUMMARY in found, "week query misses %r: %r" % (WEEK_SUMMARY, found)
    assert OUTSIDE_SUMMARY not in found, "week query gives an entry outside it: %r" % found


def createChangeDelete():
    uid = "client-%s" % uuid.uuid4()
    event = calendar().save_event(ical(uid, "Made on a phone"))
    made = calendar().event_by_uid(uid)
    assert str(made.vobject_instance.vevent.summary.value) == "Made on a phone"
    url = str(made.url)
    first = raw("GET", url)
    expect(first, {200}, "GET after PUT")
    assert first.headers.get("ETag"), "no ETag on GET"
    r = raw("PUT", url, ical(uid, "Changed on a phone"),
            {"If-Match": first.headers["ETag"], "Content-Type": "text/calendar"})
    expect(r, {200, 201, 204}, "PUT with the current ETag")
    second = raw("GET", url)
    assert "Changed on a phone" in second.text and second.headers.get("ETag") != first.headers["ETag"]
    event = calendar().event_by_uid(uid)
    event.delete()
    expect(raw("GET", url), {404, 410}, "GET after DELETE")
    assert "Changed on a phone" not in summaries(calendar().events())


def hrefSurvives():
    # Made under a name of the client's own (not its UID), synced, changed:
    # always under that name, never a second one.
    uid = "href-%s" % uuid.uuid4()
    url = str(calendar().url) + "phone-%s.ics" % uuid.uuid4()
    token = sync_token()
    expect(raw("PUT", url, ical(uid, "Named on a phone"), {"Content-Type": "text/calendar"}), {201}, "PUT")
    synced = [str(o.url) for o in calendar().objects_by_sync_token(token)]
    assert synced == [url], "synced as %r, not %r" % (synced, url)
    event = calendar().event_by_url(url)
    event.load()
    event.vobject_instance.vevent.summary.value = "Renamed on a phone"
    event.save()
    listed = [str(e.url) for e in calendar().events() if uid in e.data]
    assert listed == [url], "listed as %r after the change, not %r" % (listed, url)
    expect(raw("DELETE", url), {204}, "DELETE")


def syncAfterWorkstationChange():
    before = calendar().objects_by_sync_token(load_objects=True)
    token = before.sync_token
    uid = "workstation-%s" % uuid.uuid4()
    workstation_change(uid, "Entered on a workstation")
    changed = calendar().objects_by_sync_token(token, load_objects=True)
    got = summaries(changed)
    assert got == ["Entered on a workstation"], "changes since the token: %r" % got
    assert changed.sync_token != token, "the token did not move"
    again = calendar().objects_by_sync_token(changed.sync_token)
    assert not list(again), "a second round gives %d objects" % len(list(again))


def privacy():
    private = os.environ["DAV_PRIVATE_SUMMARY"]
    everything = calendar().objects_by_sync_token(load_objects=True)
    for where, texts in (("listing", summaries(calendar().events())),
                         ("sync", [o.data for o in everything]),
                         ("week", summaries(calendar().date_search(
                             datetime.datetime(1970, 1, 2), datetime.datetime(2037, 12, 31), expand=False)))):
        assert not any(private in t for t in texts), "another's private entry in the %s" % where
    expect(raw("PROPFIND", os.environ["DAV_OTHER_URL"], headers={"Depth": "1"}), {403, 404},
           "PROPFIND on another's calendar")


def othersEntryStaysHis():
    entry = by_summary(os.environ["DAV_OTHERS_SUMMARY"])
    r = raw("PUT", str(entry.url), entry.data.replace(os.environ["DAV_OTHERS_SUMMARY"], "Taken over"),
            {"Content-Type": "text/calendar"})
    expect(r, {403}, "PUT on another's entry without the right")
    expect(raw("DELETE", str(entry.url)), {403}, "DELETE of another's entry without the right")
    by_summary(os.environ["DAV_OTHERS_SUMMARY"])


def wrongPassword():
    r = raw("PROPFIND", URL, headers={"Depth": "0"}, auth=(USER, PASSWORD + "x"))
    expect(r, {401}, "PROPFIND with a wrong password")
    assert "basic" in r.headers.get("WWW-Authenticate", "").lower(), "no Basic challenge"
    expect(raw("PROPFIND", URL, headers={"Depth": "0"}, auth=None), {401}, "PROPFIND without a log-in")


def heldOnWorkstation():
    held = os.environ["DAV_HELD_SUMMARY"]
    entry = by_summary(held)
    before = raw("GET", str(entry.url))
    r = raw("PUT", str(entry.url), before.text.replace(held, "Changed while held"),
            {"Content-Type": "text/calendar", "If-Match": before.headers.get("ETag", "*")})
    expect(r, {423}, "PUT on an entry open on a workstation")
    assert os.environ.get("DAV_HELD_BY", "") in r.text and r.text.strip(), "423 without the holder named: %r" % r.text
    after = raw("GET", str(entry.url))
    assert after.text == before.text and after.headers.get("ETag") == before.headers.get("ETag"), "the held entry changed"


def staleEtags():
    uid = "race-%s" % uuid.uuid4()
    calendar().save_event(ical(uid, "Race start"))
    url = str(calendar().event_by_uid(uid).url)
    etag = raw("GET", url).headers["ETag"]
    results = {}

    def put(n):
        results[n] = raw("PUT", url, ical(uid, "Race writer %d" % n),
                         {"If-Match": etag, "Content-Type": "text/calendar"}).status_code
    threads = [threading.Thread(target=put, args=(n,)) for n in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    winners = [n for n, status in results.items() if status in (200, 201, 204)]
    assert len(winners) == 1 and sorted(set(results.values()) - {200, 201, 204}) == [412], results
    final = raw("GET", url)
    assert "Race writer %d" % winners[0] in final.text, "the winner's text is not the one kept"
    calendar().event_by_uid(uid).delete()


def badRequests():
    home = str(calendar().url)
    other = os.environ.get("DAV_OTHER_URL", URL.rstrip("/") + "/somebody-else/")
    uid = "bad-%s" % uuid.uuid4()
    cases = [
        ("malformed XML", "REPORT", home, "<?xml version='1.0'?><C:calendar-query xmlns:C=", {"Depth": "1"}, {400}),
        ("malformed iCalendar", "PUT", home + uid + ".ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY:x\r\n",
         {"Content-Type": "text/calendar"}, {400, 403, 415, 422}),
        ("huge body", "PUT", home + uid + ".ics",
         ical(uid, "Huge", description="x" * (64 * 1024 * 1024)), {"Content-Type": "text/calendar"}, {413}),
        ("another's home", "PUT", other + uid + ".ics", ical(uid, "Planted"), {"Content-Type": "text/calendar"},
         {403, 404}),
        ("a path out of the tree", "GET", URL.rstrip("/") + "/dav/calendars/%2e%2e/%2e%2e/etc/passwd", None, {},
         {400, 403, 404}),
        ("unknown method", "BREW", home, "coffee", {}, {405, 501}),
    ]
    token = sync_token()
    failures = []
    for name, method, url, body, headers, statuses in cases:
        try:
            r = raw(method, url, body, headers)
            if r.status_code not in statuses:
                failures.append("%s: %s %d %s, not %s" % (name, method, r.status_code, r.text[:200], statuses))
        except requests.exceptions.ConnectionError as e:
            # A service may close the connection on a body over its bound,
            # after its answer; it must keep serving the next one.
            if name != "huge body":
                failures.append("%s: %s" % (name, e))
        try:
            expect(raw("PROPFIND", home, headers={"Depth": "0"}), {207}, "PROPFIND after " + name)
        except Exception as e:
            failures.append(str(e))
    assert sync_token() == token, "a bad request changed the calendar"
    assert not failures, "\n    ".join(failures)


def periods(ics):
    """The FREEBUSY periods of a calendar's VFREEBUSY, read by vobject."""
    found = []
    for line in vobject.readOne(ics).vfreebusy.contents.get("freebusy", []):
        found += ["%s/%s" % (a.strftime("%Y%m%dT%H%M%SZ"), b.strftime("%Y%m%dT%H%M%SZ")) for a, b in line.value]
    return found


def freeBusy():
    # Two colleagues' and a room's busy time, a private entry busy without its
    # text: by a free-busy-query on each one's calendar, and by one VFREEBUSY
    # request to the user's outbox that also names someone unknown.
    monday = datetime.datetime.fromisoformat(os.environ["DAV_WEEK"]).replace(tzinfo=datetime.timezone.utc)
    sunday = monday + datetime.timedelta(days=7)
    busy = {URL.rstrip("/") + path: periods for path, periods in json.loads(os.environ["DAV_BUSY"]).items()}
    for principal, expected in busy.items():
        calendar_url = principal.replace("/principals/", "/calendars/") + "default/"
        reported = caldav.Calendar(client=client, url=calendar_url).freebusy_request(monday, sunday).data
        assert periods(reported) == expected, "free-busy-query on %s: %r" % (calendar_url, reported)
        assert os.environ["DAV_PRIVATE_SUMMARY"] not in reported
    principal = client.principal()
    stranger = URL.rstrip("/") + "/dav/principals/nobody/"
    attendees = "".join("ATTENDEE:%s\r\n" % one for one in list(busy) + [stranger])
    request = ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quorla tests//EN\r\nMETHOD:REQUEST\r\n"
               "BEGIN:VFREEBUSY\r\nUID:%s\r\nDTSTAMP:20260101T000000Z\r\nDTSTART:%s\r\nDTEND:%s\r\n"
               "ORGANIZER:%s\r\n%sEND:VFREEBUSY\r\nEND:VCALENDAR\r\n"
               % (uuid.uuid4(), monday.strftime("%Y%m%dT%H%M%SZ"), sunday.strftime("%Y%m%dT%H%M%SZ"),
                  principal.get_vcal_address(), attendees))
    r = client.post(str(principal.schedule_outbox().url), request, {"Content-Type": "text/calendar; charset=utf-8"})
    assert r.status == 200, "POST to the outbox: %d %s" % (r.status, r.raw[:300])
    caldav_ns = "{urn:ietf:params:xml:ns:caldav}"
    answers = {}
    for one in ElementTree.fromstring(r.raw).iter(caldav_ns + "response"):
        data = one.find(caldav_ns + "calendar-data")
        answers[one.find(caldav_ns + "recipient/{DAV:}href").text] = (
            one.find(caldav_ns + "request-status").text, periods(data.text) if data is not None else None)
    wanted = {who: ("2.0;Success", expected) for who, expected in busy.items()}
    wanted[stranger] = ("3.7;Invalid calendar user", None)
    assert answers == wanted, answers


def busyRoomRefused():
    # A PUT whose event books the room while it is booked is refused and
    # stores nothing.
    room, taken = next((p, b) for p, b in json.loads(os.environ["DAV_BUSY"]).items() if "resource-" in p)
    start = taken[0].split("/")[0]
    uid = "room-%s" % uuid.uuid4()
    url = str(calendar().url) + uid + ".ics"
    body = ical(uid, "Wants the room", start).replace(
        "SUMMARY:", "ATTENDEE;CUTYPE=ROOM:%s\r\nSUMMARY:" % (URL.rstrip("/") + room))
    r = raw("PUT", url, body, {"Content-Type": "text/calendar"})
    expect(r, {409, 403}, "PUT booking a busy room")
    expect(raw("GET", url), {404}, "GET of the refused event")


ROWS = [
    ("discovery", discovery, []),
    ("listCalendars", listCalendars, []),
    ("timeRange", timeRange, ["DAV_WEEK"]),
    ("createChangeDelete", createChangeDelete, []),
    ("hrefSurvives", hrefSurvives, []),
    ("syncAfterWorkstationChange", syncAfterWorkstationChange, ["DAV_WORKSTATION_CHANGE"]),
    ("privacy", privacy, ["DAV_PRIVATE_SUMMARY", "DAV_OTHER_URL"]),
    ("othersEntryStaysHis", othersEntryStaysHis, ["DAV_OTHERS_SUMMARY"]),
    ("wrongPassword", wrongPassword, []),
    ("heldOnWorkstation", heldOnWorkstation, ["DAV_HELD_SUMMARY"]),
    ("staleEtags", staleEtags, []),
    ("badRequests", badRequests, []),
    ("freeBusy", freeBusy, ["DAV_WEEK", "DAV_BUSY"]),
    ("busyRoomRefused", busyRoomRefused, ["DAV_BUSY"]),
]


def main():
    only = sys.argv[1:]
    failed = 0
    for name, run, needs in ROWS:
        if only and name not in only:
            continue
        missing = [n for n in needs if not os.environ.get(n)]
        if missing:
            print("SKIP   %s (no %s)" % (name, ", ".join(missing)))
            continue
        try:
            run()
            print("PASS   %s" % name)
        except Exception as e:
            failed += 1
            print("FAIL   %s: %s" % (name, e))
            if not isinstance(e, AssertionError):
                traceback.print_exc(file=sys.stdout)
        sys.stdout.flush()
    print("%d row(s) failed" % failed if failed else "all rows passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
