#pragma once

#include "EQuorla.h"

// A text given to a record field that does not fit it whole. The record keeps
// what the field held before; the caller's write does not happen.
class ETextTooLong : public EQuorla
{
public:
    using EQuorla::EQuorla;
};
