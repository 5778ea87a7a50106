#pragma once
// One 105-byte test record from the calibrator, turned into the 53 texts of a list row.
// Texts are made here once; every later reader copies them.

#include <QLocale>
#include <QString>

#include "sync/Columns.h"

namespace sf6 {

constexpr int kRecordSize = 105;

// Byte offsets inside a record.
constexpr int kRecTestCount = 0;
constexpr int kRecTemperature = 1;   // 16-bit big-endian, 0.1 degC
constexpr int kRecMode = 3;          // 0 = system acquisition
constexpr int kRecYear = 4;          // year - 2000; year..minute are signed bytes
constexpr int kRecMonth = 5;
constexpr int kRecDay = 6;
constexpr int kRecHour = 7;
constexpr int kRecMinute = 8;
constexpr int kRecValues = 9;        // 48 x 16-bit big-endian, 0.001 MPa

// The numbers of a record as the instrument sent them, read from the bytes
// here only: the row's texts and the archive's columns are both made of them.
struct RecordNumbers {
    int testCount = 0;
    unsigned temperatureTenths = 0;
    int mode = 0;
    int year = 0;   // in full: 2000 + the signed byte
    int month = 0, day = 0, hour = 0, minute = 0;
    unsigned pressures[kValueCount] = {};
};
RecordNumbers recordNumbers(const unsigned char* record);

// "#00": at least two digits, a minus sign in front when negative.
QString formatTwoDigits(int value);
// "#0.0" of raw / 10, exact.
QString formatTenths(unsigned raw, const QLocale& locale = QLocale());
// "#0.000" of raw / 1000, exact.
QString formatThousandths(unsigned raw, const QLocale& locale = QLocale());

QString dateTimeText(const unsigned char* record);
QString temperatureText(unsigned raw, const QLocale& locale = QLocale());
QString acquisitionModeText(unsigned char mode);

// The row for one record; `number` goes into column 0.
ListRow decodeRecord(const unsigned char* record, int number, const QLocale& locale = QLocale());

} // namespace sf6
