#pragma once
// Drives the main window's connect command the way its timers do.
#include "app/TForm1.h"

#include <QApplication>
#include <QPointer>
#include <QTest>

#include <vector>

namespace testsupport {

// Waits, with the event loop running, until the window's scan has ended.
inline bool waitScanEnd(TForm1& w, int limitMs = 15000)
{
    return QTest::qWaitFor([&w] { return !w.Scanner1.running(); }, limitMs);
}

// Runs the connect command through its ten spinner ticks and the scan.
inline void connectThroughScan(TForm1& w)
{
    w.N6Click();
    for (int i = 0; i < 10; ++i)
        w.Timer1Timer();
    waitScanEnd(w);
}

// Deletes the open top-level windows of the given kinds. Deleting one window
// may take others with it: they are held by guarded pointers.
template <typename... Forms>
void deleteTopLevels()
{
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* top : QApplication::topLevelWidgets())
        if ((qobject_cast<Forms*>(top) || ...))
            windows.emplace_back(top);
    for (const QPointer<QWidget>& top : windows)
        delete top.data();
}

} // namespace testsupport
