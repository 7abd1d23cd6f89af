#pragma once

#include "EQuorla.h"

// Raised by TStamp when a moment lies outside the years 1970 to 2037, when a
// date or time is not a real one, or when stamp arithmetic overflows.
class EStamp : public EQuorla
{
public:
    using EQuorla::EQuorla;
};
