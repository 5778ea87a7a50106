#include "sim/Records.h"

#include "register/Sf6Gas.h"

#include <QDateTime>

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace sim {

namespace {
constexpr int kHeaderBytes = 3;
constexpr char kReplyHeader0 = '\x5A';
constexpr char kReplyHeader2 = '\x01';
constexpr char kTrailer[] = {'\xAA', '\xA5'};

void putU16(QByteArray& b, int at, uint16_t v)
{
    b[at] = char(v >> 8);
    b[at + 1] = char(v & 0xFF);
}

// Positions within a block of 24 pressures.
enum : int {
    kMeanAlarm = 0, kMeanLock1, kMeanLock2, kMeanAlarmReturn, kMeanLock1Return, kMeanLock2Return,
    kAlarm = 6, kAlarmReturn = 9, kLock1 = 12, kLock1Return = 15, kLock2 = 18, kLock2Return = 21,
};
} // namespace

QByteArray encodeRecord(const RecordFields& r)
{
    QByteArray b(kRecordBytes, '\0');
    b[0] = char(r.testCount);
    putU16(b, 1, r.temperatureTenths);
    b[3] = char(r.mode);
    b[4] = char(r.year);
    b[5] = char(r.month);
    b[6] = char(r.day);
    b[7] = char(r.hour);
    b[8] = char(r.minute);
    for (int j = 0; j < kPressureCount; ++j)
        putU16(b, 9 + 2 * j, r.values[j]);
    return b;
}

QByteArray makeSyncReply(const std::vector<QByteArray>& records)
{
    QByteArray reply;
    reply.reserve(kHeaderBytes + int(records.size()) * kRecordBytes + 2);
    reply.append(kReplyHeader0);
    reply.append(char(uint8_t(records.size())));
    reply.append(kReplyHeader2);
    for (const auto& r : records)
        reply.append(r);
    reply.append(kTrailer, 2);
    return reply;
}

RecordFields plausibleRecord(int index, std::mt19937& rng)
{
    std::normal_distribution<double> jitter(0.0, 0.004);
    std::uniform_int_distribution<int> temp(50, 350);   // 5.0 .. 35.0 °C
    std::uniform_int_distribution<int> count(1, 3);

    RecordFields r;
    r.testCount = uint8_t(count(rng));
    r.temperatureTenths = uint16_t(temp(rng));
    r.mode = index % 4 == 3 ? 1 : 0;
    r.year = 12;
    r.month = int8_t(5 + index / 28 % 7);
    r.day = int8_t(1 + index % 28);
    r.hour = int8_t(8 + index % 10);
    r.minute = int8_t(index * 7 % 60);

    auto mpa = [](double v) { return uint16_t(std::lround(std::clamp(v, 0.0, 65.535) * 1000)); };
    const double setPoint[3] = {0.550, 0.500, 0.500};   // alarm, lock-out 1, lock-out 2
    const int valueAt[3] = {kAlarm, kLock1, kLock2};
    const int returnAt[3] = {kAlarmReturn, kLock1Return, kLock2Return};
    const int meanAt[3] = {kMeanAlarm, kMeanLock1, kMeanLock2};
    const int meanReturnAt[3] = {kMeanAlarmReturn, kMeanLock1Return, kMeanLock2Return};
    const double celsius = r.temperatureTenths / 10.0;

    for (int q = 0; q < 3; ++q) {
        double sum = 0, sumReturn = 0;
        for (int t = 0; t < r.testCount; ++t) {
            const double v = setPoint[q] + jitter(rng);
            const double back = v + 0.012 + std::abs(jitter(rng));
            sum += v;
            sumReturn += back;
            r.values[valueAt[q] + t] = mpa(v);
            r.values[returnAt[q] + t] = mpa(back);
        }
        r.values[meanAt[q]] = mpa(sum / r.testCount);
        r.values[meanReturnAt[q]] = mpa(sumReturn / r.testCount);
    }
    // Pt as a sound instrument measures it: the gas of that P20 at the test temperature.
    for (int k = 0; k < 24; ++k) {
        const sf6::Expected<double> pt = sf6::ptFromP20(r.values[k] / 1000.0, celsius);
        r.values[24 + k] = r.values[k] == 0 || !pt ? 0 : mpa(*pt);
    }
    return r;
}

RecordFields agreeingRecord(int day, uint16_t alarmP20)
{
    RecordFields f;
    f.temperatureTenths = 300;
    f.day = int8_t(day);
    for (int k = 0; k < kPressureCount / 2; ++k) {
        f.values[k] = 386;
        f.values[kPressureCount / 2 + k] = 405;
    }
    f.values[7] = alarmP20;
    return f;
}

std::vector<QByteArray> plausibleRecords(int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<QByteArray> out;
    out.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        out.push_back(encodeRecord(plausibleRecord(i, rng)));
    return out;
}

bool loadRecordsFile(const QString& fileName, std::vector<QByteArray>* out, QString* error)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = f.errorString();
        return false;
    }
    QTextStream in(&f);
    int lineNo = 0;
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    while (!in.atEnd()) {
        ++lineNo;
        QString line = in.readLine();
        line = line.left(line.indexOf(QLatin1Char('#')) < 0 ? line.size() : line.indexOf(QLatin1Char('#')));
        line.remove(spaces);
        if (line.isEmpty())
            continue;
        const QByteArray bytes = QByteArray::fromHex(line.toLatin1());
        if (bytes.size() != kRecordBytes || bytes.toHex().size() != line.size()) {
            *error = QStringLiteral("%1:%2: expected %3 bytes of hex").arg(fileName).arg(lineNo).arg(kRecordBytes);
            return false;
        }
        out->push_back(bytes);
    }
    return true;
}

std::vector<QByteArray> spreadRecords(int count, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<QByteArray> out;
    out.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        RecordFields f = plausibleRecord(i, rng);
        const QDateTime t = QDateTime(QDate(2010, 1, 1), QTime(8, 0)).addSecs(qint64(i) * 900);
        f.year = int8_t(t.date().year() - 2000);
        f.month = int8_t(t.date().month());
        f.day = int8_t(t.date().day());
        f.hour = int8_t(t.time().hour());
        f.minute = int8_t(t.time().minute());
        out.push_back(encodeRecord(f));
    }
    return out;
}

} // namespace sim
