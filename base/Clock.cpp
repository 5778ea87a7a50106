#include "base/Clock.h"

namespace sf6 {

namespace {
std::function<QDateTime()>& fixedNow()
{
    static std::function<QDateTime()> f;
    return f;
}
} // namespace

QDateTime Clock::now() { return fixedNow() ? fixedNow()() : QDateTime::currentDateTime(); }

void Clock::set(std::function<QDateTime()> now) { fixedNow() = std::move(now); }

} // namespace sf6
