// The benchmark program: figures for the engine and the layers above it, each
// beside a baseline measured in the same run. Build with the release preset and
// run build/release/bench/quorla_bench.

#include "CacheBench.h"
#include "StoreBench.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    runStoreBench();
    runCacheBench();
    return 0;
}
