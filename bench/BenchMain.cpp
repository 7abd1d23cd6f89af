// The benchmark program: figures for the engine and the layers above it, each
// beside a baseline measured in the same run where one exists. Build with the
// release preset and run build/release/bench/quorla_bench.

#include "CacheBench.h"
#include "PollBench.h"
#include "ReportBench.h"
#include "StoreBench.h"
#include "TroubleBench.h"
#include "ViewBench.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    runStoreBench();
    runCacheBench();
    runViewBench();
    runReportBench();
    runTroubleBench();
    runPollBench();
    return 0;
}
