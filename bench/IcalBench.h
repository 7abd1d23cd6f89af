#pragma once

// iCalendar both ways: the import of a feed and the export of a busy year,
// each beside libical's own parse or serialise of the same data, on a folder
// and on a database server.
void runIcalBench();
