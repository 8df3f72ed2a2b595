#pragma once

#include "fakes/FakeScanView.h"
#include "scan/ScanEngine.h"

#include <QCoreApplication>

#include <cstdio>

// Starts the engine's scan of the view's range and waits on the event loop until it has
// ended; a refusal is printed, so a benchmark that measured nothing says why.
inline void scanToEnd(ScanEngine &engine, FakeScanView &view)
{
    engine.Scan_Button_Click();
    for (const QString &reason : view.refusals)
        std::fprintf(stderr, "refused: %s\n", qPrintable(reason));
    while (view.running)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
