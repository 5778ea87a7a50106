#pragma once
// The one place the program reads the date and time, so that a test can fix
// them: archive timestamps, today's date on reports, due dates.

#include <QDate>
#include <QDateTime>

#include <functional>

namespace sf6 {

class Clock {
public:
    static QDateTime now();
    static QDate today() { return now().date(); }
    // A test's own time; an empty function gives the system's back.
    static void set(std::function<QDateTime()> now);
};

} // namespace sf6
