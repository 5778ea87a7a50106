#pragma once
// A simulated calibrator served inside the test program, the only port the
// scan tries: the windows find and sync it as the instrument on a port, on
// every system (under Wine too, where there are no pseudo-terminals).

#include "link/PortScan.h"
#include "link/PortList.h"
#include "link/SerialLink.h"
#include "sim/InProcessLink.h"

#include <gtest/gtest.h>

#include <memory>

namespace testsupport {

class CalibratorFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        // No probe thread outlives the calibrator it talks to.
        EXPECT_EQ(sf6::finishProbeThreads(sf6::kProbeDeadline), 0);
        sf6::setPortListOverride(std::nullopt);
        sf6::setInProcessPort(sim::kDemoPortName, nullptr);
        calibrator.reset();
    }

    // Serves the calibrator with this answer to the sync request; called
    // again, the same calibrator answers the next sync with the new script.
    sim::InProcessLink* serveCalibrator(sim::SyncScript script)
    {
        if (!calibrator) {
            calibrator = std::make_shared<sim::InProcessLink>();
            sf6::setInProcessPort(sim::kDemoPortName, calibrator);
            sf6::setPortListOverride(QStringList{sim::kDemoPortName});
        }
        calibrator->setSyncScript(std::move(script));
        return calibrator.get();
    }

    std::shared_ptr<sim::InProcessLink> calibrator;
};

} // namespace testsupport
