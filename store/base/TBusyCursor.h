#pragma once

#include "TPersonServices.h"

// Shows the busy cursor for the lifetime of the object, so that every way out
// of a command (return, error) restores the cursor that was there before.
class TBusyCursor
{
public:
    explicit TBusyCursor(TPersonServices& person) : person_(person) { person_.pushBusyCursor(); }
    ~TBusyCursor() { person_.popBusyCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    TPersonServices& person_;
};
