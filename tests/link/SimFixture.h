#pragma once
// Simulated calibrators on real pseudo-terminals, listed as the system's ports.

#include "link/PortList.h"
#include "sim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace testsupport {

class PortsFixture : public ::testing::Test {
protected:
    void TearDown() override
    {
        sf6::setPortListOverride(std::nullopt);
        sims.clear();
    }

    // Starts n simulators; returns them ordered as the scan will try them.
    std::vector<sim::Simulator*> startSims(int n)
    {
        for (int i = 0; i < n; ++i) {
            auto s = std::make_unique<sim::Simulator>();
            QString error;
            EXPECT_TRUE(s->start(&error)) << error.toStdString();
            sims.push_back(std::move(s));
        }
        std::sort(sims.begin(), sims.end(), [](const auto& a, const auto& b) { return a->portPath() < b->portPath(); });
        std::vector<sim::Simulator*> out;
        QStringList names;
        for (auto& s : sims) {
            out.push_back(s.get());
            names << s->portPath();
        }
        sf6::setPortListOverride(names);
        return out;
    }

    std::vector<std::unique_ptr<sim::Simulator>> sims;
};

} // namespace testsupport
