#include "sync/TestRecord.h"

#include <cstdlib>

namespace sf6 {

namespace {

unsigned bigEndian16(const unsigned char* p)
{
    return (unsigned(p[0]) << 8) | unsigned(p[1]);
}

int signedByte(unsigned char byte) { return static_cast<signed char>(byte); }

constexpr int kCentury = 2000;

} // namespace

RecordNumbers recordNumbers(const unsigned char* record)
{
    RecordNumbers n;
    n.testCount = record[kRecTestCount];
    n.temperatureTenths = bigEndian16(record + kRecTemperature);
    n.mode = record[kRecMode];
    n.year = kCentury + signedByte(record[kRecYear]);
    n.month = signedByte(record[kRecMonth]);
    n.day = signedByte(record[kRecDay]);
    n.hour = signedByte(record[kRecHour]);
    n.minute = signedByte(record[kRecMinute]);
    for (int j = 0; j < kValueCount; ++j)
        n.pressures[j] = bigEndian16(record + kRecValues + 2 * j);
    return n;
}

QString formatTwoDigits(int value)
{
    // Digits are always ASCII, whatever the locale: the pattern only pads.
    QString digits = QString::number(std::abs(value)).rightJustified(2, u'0');
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

QString formatTenths(unsigned raw, const QLocale& locale)
{
    // Integer split keeps the text exact: no binary fraction ever rounds.
    return QString::number(raw / 10) + locale.decimalPoint() + QString::number(raw % 10);
}

QString formatThousandths(unsigned raw, const QLocale& locale)
{
    return QString::number(raw / 1000) + locale.decimalPoint()
        + QString::number(raw % 1000).rightJustified(3, u'0');
}

namespace {
QString dateTimeText(const RecordNumbers& n)
{
    return QStringLiteral("20") + formatTwoDigits(n.year - kCentury) + u'-' + formatTwoDigits(n.month) + u'-'
        + formatTwoDigits(n.day) + u' ' + formatTwoDigits(n.hour) + u':' + formatTwoDigits(n.minute);
}
} // namespace

QString dateTimeText(const unsigned char* record) { return dateTimeText(recordNumbers(record)); }

QString temperatureText(unsigned raw, const QLocale& locale)
{
    return formatTenths(raw, locale) + QStringLiteral("°C");
}

QString acquisitionModeText(unsigned char mode)
{
    return mode == 0 ? QStringLiteral("系统采集") : QStringLiteral("手工输入");
}

ListRow decodeRecord(const unsigned char* record, int number, const QLocale& locale)
{
    const RecordNumbers n = recordNumbers(record);
    ListRow row;
    row.reserve(kColumnCount);
    row << QString::number(number) << dateTimeText(n) << temperatureText(n.temperatureTenths, locale)
        << acquisitionModeText(static_cast<unsigned char>(n.mode)) << QString::number(n.testCount);
    for (unsigned pressure : n.pressures)
        row << formatThousandths(pressure, locale);
    return row;
}

} // namespace sf6
