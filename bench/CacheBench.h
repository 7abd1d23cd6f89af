#pragma once

// Figures for the lookup caches: look-ups per second while the dataset file is
// unchanged (its stat() included), the stat() alone for comparison, and a full
// reload of 200 users.
void runCacheBench();
