#pragma once

#include <QDateTime>

#include <functional>

// The program's single source of "now". Everything that depends on the current
// moment (new stamps, "is this today", alarm due times) asks TClock, so tests can
// stand the program at any moment they choose without touching the system clock.
class TClock
{
public:
    TClock() = delete;

    // The current local date and time: QDateTime::currentDateTime(), or the
    // result of the installed override if there is one.
    static QDateTime now();

    // Installs a function that now() calls instead of the system clock. An empty
    // function removes the override and returns to the system clock. Not
    // thread-safe to install; the program reads the clock from any thread, and a
    // test installs it while nothing else runs.
    static void setOverride(std::function<QDateTime()> source);
};
