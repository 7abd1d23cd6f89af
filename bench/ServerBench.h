#pragma once

#include <QString>

// The database server beside the folder: the engine's reads, insert, alarm
// poll, next key and change mark on the same data in a private PostgreSQL
// server and in a folder, alternated in rounds; the copy of that database to
// the server as quorla_migrate makes it; then the load of an office of 50, 200
// and 500 workstations on the server (TOfficeLoad). `program` is this
// program, started again for the load processes.
void runServerBench(const QString& program);
