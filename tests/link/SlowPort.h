#pragma once
// A port whose open blocks, as a Bluetooth port on Windows or Wine's COM1
// does: installed as the link's open hook, it holds every open of its name
// until released (at the latest when it goes out of scope).

#include "link/PortScan.h"
#include "link/SerialLink.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace testsupport {

class SlowPort {
public:
    explicit SlowPort(QString name) : gate_(std::make_shared<Gate>())
    {
        sf6::setPortOpenHook([gate = gate_, name = std::move(name)](const QString& port) {
            if (port != name)
                return;
            std::unique_lock lock(gate->mutex);
            ++gate->opens;
            gate->changed.notify_all();
            gate->changed.wait_for(lock, kLongest, [&] { return gate->released; });
        });
    }
    ~SlowPort()
    {
        sf6::setPortOpenHook({});
        release();
        sf6::finishProbeThreads(kLongest);   // the released opens end before what they use goes
    }
    SlowPort(const SlowPort&) = delete;
    SlowPort& operator=(const SlowPort&) = delete;

    void release()
    {
        {
            std::lock_guard lock(gate_->mutex);
            gate_->released = true;
        }
        gate_->changed.notify_all();
    }
    // Opens of the port begun so far.
    int opens() const
    {
        std::lock_guard lock(gate_->mutex);
        return gate_->opens;
    }

private:
    static constexpr std::chrono::seconds kLongest{60};
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        int opens = 0;
        bool released = false;
    };
    std::shared_ptr<Gate> gate_;
};

} // namespace testsupport
