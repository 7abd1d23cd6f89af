#pragma once

// The report over one year of a 100,000-entry calendar (five years, 30 users,
// five assignees per entry): for all users and for three chosen users.
void runReportBench();
