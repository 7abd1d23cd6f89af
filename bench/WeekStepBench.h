#pragma once

// The week step as the program runs it: Next on the week page over a database
// of 100,000 entries, the views wired to the program's answers, and the paint.
void runWeekStepBench();
