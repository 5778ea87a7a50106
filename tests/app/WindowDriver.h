#pragma once
// Drives the main window's connect command the way its timers do.
#include "app/TForm1.h"

namespace testsupport {

// Runs the connect command through its ten spinner ticks and the scan.
inline void connectThroughScan(TForm1& w)
{
    w.N6Click();
    for (int i = 0; i < 10; ++i)
        w.Timer1Timer();
}

} // namespace testsupport
