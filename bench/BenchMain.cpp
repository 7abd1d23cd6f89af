#include "ViewBench.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // The views draw offscreen; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    runViewBench();
    return 0;
}
