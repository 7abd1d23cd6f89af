// tsdav, the JavaScript CalDAV client web and Node.js calendars are built on,
// against the service at DAV_URL as DAV_USER (environment as for
// caldav_client.py; DAV_WEEK is the Monday of a week with room for two events).
// It finds the calendar from the base address, PUTs a timed event with an end,
// a place and long notes and a three-day all-day event under names of its own,
// finds them by a time-range query and a multiget, and expects each back with
// its end, days, place and notes under the name it PUT to, with the ETag its
// PUT answered (none would say the service altered it); then
// changes one with If-Match (a stale ETag refused), deletes the other, and
// expects the ctag moved and a sync since the first token to name both.
// Exits 77 (skipped) when tsdav is not installed (tools/setup installs it).
import { randomUUID } from 'node:crypto';

let tsdav;
try {
  tsdav = await import('tsdav');
} catch {
  console.log('SKIP: tsdav is not installed here (bash tools/setup)');
  process.exit(77);
}

const env = process.env;
const day = (offset) => new Date(Date.parse(env.DAV_WEEK + 'T00:00:00Z') + offset * 86400000);
const stamp = (d, allDay) => d.toISOString().replace(/[-:]|\.\d+/g, '').slice(0, allDay ? 8 : 16);
const notes = 'Agenda, in order; each point ten minutes:\n' +
  Array.from({ length: 6 }, (_, i) => `${i + 1}. Point ${i + 1} of the quarter's plan, with Jörg's figures`).join('\n');
// Each event as the client writes it and must read it back.
const events = [
  { name: 'timed', start: stamp(new Date(day(1).getTime() + 16 * 3600000)), end: stamp(new Date(day(1).getTime() + 17.5 * 3600000)),
    location: 'Room 3, second floor; by the lift', description: notes },
  { name: 'three days', start: stamp(day(2), true), end: stamp(day(5), true), location: 'Lakeside hall, Müllerstraße 5',
    description: 'The whole team away.' },
].map((e) => ({ ...e, uid: `tsdav-${randomUUID()}`, summary: `tsdav ${e.name}` }));

const escape = (t) => t.replace(/[\\;,]/g, '\\$&').replace(/\n/g, '\\n');
const unescape = (t) => t.replace(/\\([\\;,nN])/g, (_, c) => (c === 'n' || c === 'N' ? '\n' : c));
function fold(line) {
  let out = '', n = 0;
  for (const c of line) {
    const bytes = Buffer.byteLength(c);
    if (n + bytes > 74) { out += '\r\n '; n = 1; }
    out += c; n += bytes;
  }
  return out;
}
function ics(e) {
  const date = e.start.length === 8 ? ';VALUE=DATE' : '';
  return ['BEGIN:VCALENDAR', 'VERSION:2.0', 'PRODID:-//Quorla tests//tsdav//EN', 'BEGIN:VEVENT', `UID:${e.uid}`,
    'DTSTAMP:20260101T000000Z', `DTSTART${date}:${e.start}`, `DTEND${date}:${e.end}`, `SUMMARY:${escape(e.summary)}`,
    `LOCATION:${escape(e.location)}`, `DESCRIPTION:${escape(e.description)}`, 'END:VEVENT', 'END:VCALENDAR', '']
    .map(fold).join('\r\n');
}

// The first VEVENT's properties by name, unfolded and unescaped.
function properties(data) {
  const event = data.replace(/\r?\n[ \t]/g, '').split(/\r?\n/);
  const props = {};
  for (const line of event.slice(event.indexOf('BEGIN:VEVENT') + 1, event.indexOf('END:VEVENT'))) {
    const m = line.match(/^([A-Z-]+)((?:;[^:]*)?):(.*)$/);
    if (m && !(m[1] in props)) props[m[1]] = unescape(m[3]);
  }
  return props;
}
const parseStamp = (s) => Date.parse(s.replace(/^(\d{4})(\d\d)(\d\d)(?:T(\d\d)(\d\d)(\d\d)Z)?$/, (_, y, mo, d, h = '00', mi = '00', se = '00') =>
  `${y}-${mo}-${d}T${h}:${mi}:${se}Z`));
function endOf(p) {
  if (p.DTEND) return p.DTEND;
  const [, w, d, h, m, s] = p.DURATION.match(/^P(?:(\d+)W)?(?:(\d+)D)?(?:T(?:(\d+)H)?(?:(\d+)M)?(?:(\d+)S)?)?$/).map((n) => Number(n ?? 0));
  return stamp(new Date(parseStamp(p.DTSTART) + ((((w * 7 + d) * 24 + h) * 60 + m) * 60 + s) * 1000), p.DTSTART.length === 8);
}

function check(condition, what) {
  if (!condition) throw new Error(what);
}
function checkServed(e, object, how) {
  check(object, `${how}: ${e.name} is not listed at ${e.url}`);
  check(object.etag, `${how}: ${e.name} has no ETag`);
  check(e.putEtag === object.etag, `${how}: ${e.name} answered its PUT with ETag ${e.putEtag}, serves ${object.etag}`);
  const p = properties(object.data ?? '');
  const got = { summary: p.SUMMARY, start: p.DTSTART, end: p.DTSTART && endOf(p), location: p.LOCATION, description: p.DESCRIPTION };
  for (const key of Object.keys(got))
    check(got[key] === e[key], `${how}: ${e.name}'s ${key} comes back as ${JSON.stringify(got[key])}, not ${JSON.stringify(e[key])}`);
}
const byUrl = (objects) => new Map(objects.map((o) => [o.url, o]));
const week = async () => byUrl(await client.fetchCalendarObjects({ calendar: state.calendar,
  timeRange: { start: day(0).toISOString(), end: day(7).toISOString() } }));

const client = new tsdav.DAVClient({
  serverUrl: env.DAV_URL, credentials: { username: env.DAV_USER, password: env.DAV_PASSWORD },
  authMethod: 'Basic', defaultAccountType: 'caldav',
});
const state = {};
const rows = {
  async discovery() {
    await client.login();
    state.calendar = (await client.fetchCalendars()).find((c) => c.url.endsWith('/default/'));
    check(state.calendar?.syncToken && state.calendar.ctag, 'no calendar with a sync token and a ctag found from ' + env.DAV_URL);
  },
  async put() {
    for (const e of events) {
      const answer = await client.createCalendarObject({ calendar: state.calendar, filename: `${e.uid}.ics`, iCalString: ics(e) });
      check(answer.status === 201, `PUT ${e.name}: ${answer.status} ${await answer.text()}`);
      e.url = new URL(`${e.uid}.ics`, state.calendar.url).href;
      e.putEtag = answer.headers.get('etag');
      check(e.putEtag, `PUT ${e.name}: no ETag, so the service altered it`);
    }
  },
  async timeRange() {
    const found = await week();
    for (const e of events) checkServed(e, found.get(e.url), 'the week');
    // The three-day event's last day alone still finds it, and not the other.
    const lastDay = byUrl(await client.fetchCalendarObjects({ calendar: state.calendar,
      timeRange: { start: new Date(day(4).getTime() + 12 * 3600000).toISOString(), end: day(5).toISOString() } }));
    check(lastDay.has(events[1].url) && !lastDay.has(events[0].url), 'the last day finds ' + [...lastDay.keys()]);
  },
  async multiget() {
    const got = byUrl(await client.fetchCalendarObjects({ calendar: state.calendar, objectUrls: events.map((e) => e.url) }));
    for (const e of events) checkServed(e, got.get(e.url), 'multiget');
  },
  async update() {
    const [e] = events;
    const old = (await client.fetchCalendarObjects({ calendar: state.calendar, objectUrls: [e.url] }))[0];
    Object.assign(e, { location: 'Room 5', end: stamp(new Date(parseStamp(e.end) + 1800000)) });
    const answer = await client.updateCalendarObject({ calendarObject: { url: e.url, etag: old.etag, data: ics(e) } });
    check(answer.ok, `PUT with If-Match: ${answer.status} ${await answer.text()}`);
    e.putEtag = answer.headers.get('etag');
    const stale = await client.updateCalendarObject({ calendarObject: { url: e.url, etag: old.etag, data: ics(e) } });
    check(stale.status === 412, `PUT with a stale If-Match: ${stale.status}, not 412`);
    const now = (await client.fetchCalendarObjects({ calendar: state.calendar, objectUrls: [e.url] }))[0];
    checkServed(e, now, 'after the change');
    e.etag = now.etag;
  },
  async remove() {
    const e = events[1];
    const now = (await client.fetchCalendarObjects({ calendar: state.calendar, objectUrls: [e.url] }))[0];
    const answer = await client.deleteCalendarObject({ calendarObject: { url: e.url, etag: now.etag } });
    check(answer.ok, `DELETE: ${answer.status}`);
    check(!(await week()).has(e.url), 'the week still lists the deleted event');
  },
  async sync() {
    const { isDirty } = await client.isCollectionDirty({ collection: state.calendar });
    check(isDirty, 'the ctag did not move');
    const changes = await client.syncCollection({ url: state.calendar.url, props: { 'd:getetag': {} }, syncLevel: 1,
      syncToken: state.calendar.syncToken });
    const listed = new Map(changes.map((r) => [new URL(r.href, state.calendar.url).href, r]));
    const [changed, deleted] = events.map((e) => listed.get(e.url));
    check(changed?.props?.getetag === events[0].etag, `sync: the changed event ${JSON.stringify(changed)}`);
    check(deleted?.status === 404, `sync: the deleted event ${JSON.stringify(deleted)}`);
  },
};

for (const [name, row] of Object.entries(rows)) {
  try {
    await row();
    console.log(`PASS: ${name}`);
  } catch (error) {
    console.log(`FAIL: ${name}: ${error.stack ?? error}`);
    process.exit(1);
  }
}
