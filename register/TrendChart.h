#pragma once
// The drift of one relay: the P20 mean action values of its alarm and lock-out
// contacts over the test dates of its records, each contact's nominal value
// and its band of the allowed error. Drawn for the window, and saved as PNG or
// PDF by the window and the command line alike. Points of a record that fails
// on that contact are marked in red.

#include "register/RelayRegister.h"
#include "base/Status.h"

#include <QSize>

class QChart;

namespace sf6 {

constexpr QSize kTrendImageSize{1200, 700};
// The series of the points whose record fails on that contact, drawn in red.
inline const QString kTrendFailingName = QStringLiteral("不合格");

QChart* makeTrendChart(const TrendData& data);
Status saveTrendPng(const TrendData& data, const QString& fileName, QSize size = kTrendImageSize);
Status saveTrendPdf(const TrendData& data, const QString& fileName);

} // namespace sf6
