#pragma once

// What the change trail costs: an event insert with its trail record beside
// the same insert in a database without a trail (alternated in rounds), and,
// at 1,000,000 trail records, the first screen of the Changes page (all
// users, one user, a date range), its next page, an event's history and one
// retention batch.
void runTrailBench();
