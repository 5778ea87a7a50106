#pragma once
// A list row whose every value text is different, so a cell that shows the
// wrong column cannot pass for the right one.

#include <QString>

#include "sync/Columns.h"

namespace reporttest {

inline sf6::ListRow distinctRow(const QString& testCount, const QString& number = QStringLiteral("1"))
{
    sf6::ListRow row;
    for (int c = 0; c < sf6::kColumnCount; ++c)
        row << QString::asprintf("%d.%03d", c, c * 7);
    row[sf6::kColNumber] = number;
    row[sf6::kColTime] = QStringLiteral("2012-05-18 09:07");
    row[sf6::kColTemperature] = QStringLiteral("22.5°C");
    row[sf6::kColMode] = QStringLiteral("系统采集");
    row[sf6::kColTestCount] = testCount;
    return row;
}

} // namespace reporttest
