#pragma once
// The instrument the main window's tests connect to: on Unix the simulator on
// a pseudo-terminal, the nearest thing to a port; on Windows (under Wine)
// the calibrator served inside the process. Both answer the same scripts.

#ifdef SF6_HAVE_SIM
#include "tests/link/SimFixture.h"
#else
#include "tests/app/CalibratorFixture.h"
#endif

namespace testsupport {

#ifdef SF6_HAVE_SIM
using Instrument = sim::Simulator;

class InstrumentFixture : public PortsFixture {
protected:
    Instrument* startInstrument() { return startSims(1)[0]; }
    QString instrumentPort() const { return sims.at(0)->portPath(); }
};
#else
using Instrument = sim::InProcessLink;

class InstrumentFixture : public CalibratorFixture {
protected:
    Instrument* startInstrument() { return serveCalibrator({}); }
    QString instrumentPort() const { return sim::kDemoPortName; }
};
#endif

} // namespace testsupport
