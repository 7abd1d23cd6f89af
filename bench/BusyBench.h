#pragma once

// Free and busy at 100,000 entries (each with an end), on a folder and on a
// private server: the busy times of 20 people and 3 rooms over a week, and
// "Find a time" over 4 weeks for 10 people and a room. The rooms' bookings
// come from a stand-in reader (ten bookings a room a day, kept in memory).
void runBusyBench();
