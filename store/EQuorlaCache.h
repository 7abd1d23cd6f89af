#pragma once

#include "EQuorla.h"

// Raised by the lookup caches: a key that is not cached, a duplicate key while
// loading, or a cache asked to load without a loader.
class EQuorlaCache : public EQuorla
{
public:
    using EQuorla::EQuorla;
};
