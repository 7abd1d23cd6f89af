#pragma once

#include "EQuorla.h"

// Raised by TQuorlaDB when the database folder cannot be located or one of its
// datasets cannot be created or opened.
class EQuorlaDB : public EQuorla
{
public:
    using EQuorla::EQuorla;
};
