#include "sync/TestRecord.h"

#include <cstdlib>

namespace sf6 {

namespace {

unsigned bigEndian16(const unsigned char* p)
{
    return (unsigned(p[0]) << 8) | unsigned(p[1]);
}

QString signedTwoDigits(unsigned char byte)
{
    return formatTwoDigits(static_cast<signed char>(byte));
}

} // namespace

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

QString dateTimeText(const unsigned char* record)
{
    return QStringLiteral("20") + signedTwoDigits(record[kRecYear]) + u'-'
        + signedTwoDigits(record[kRecMonth]) + u'-' + signedTwoDigits(record[kRecDay]) + u' '
        + signedTwoDigits(record[kRecHour]) + u':' + signedTwoDigits(record[kRecMinute]);
}

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
    ListRow row;
    row.reserve(kColumnCount);
    row << QString::number(number) << dateTimeText(record)
        << temperatureText(bigEndian16(record + kRecTemperature), locale)
        << acquisitionModeText(record[kRecMode]) << QString::number(record[kRecTestCount]);
    for (int j = 0; j < kValueCount; ++j)
        row << formatThousandths(bigEndian16(record + kRecValues + 2 * j), locale);
    return row;
}

} // namespace sf6
