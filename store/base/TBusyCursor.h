#pragma once

#include "TServices.h"

// Shows the busy cursor for the lifetime of the object, so that every way out
// of a command (return, error) restores the cursor that was there before.
class TBusyCursor
{
public:
    TBusyCursor() : services_(TServices::current()) { services_.pushBusyCursor(); }
    ~TBusyCursor() { services_.popBusyCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    TServices& services_;
};
