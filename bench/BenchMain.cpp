// The benchmark program. Build with the release preset and run
// build/release/bench/quorla_bench.

#include "CacheBench.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    runCacheBench();
    return 0;
}
