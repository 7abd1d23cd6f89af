#pragma once

// The CalDAV service beside Radicale, on the same events: a one-week
// calendar-query REPORT and a sync-collection REPORT after one change, from
// quorla_dav on a folder and on a private PostgreSQL server and from Radicale
// (its file storage, the events of quorla_export written into it), at 10,000
// and 100,000 entries, all on loopback in one run.
void runDavBench();

// quorla_dav's week queries from one client and from 8 at once, on a folder
// and on a private server: the queries answered per second of each.
void runDavLoadBench();
