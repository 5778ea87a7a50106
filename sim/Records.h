#pragma once
// Building wire bytes of test records and sync replies for the simulator.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <random>
#include <vector>

namespace sim {

constexpr int kRecordBytes = 105;
constexpr int kPressureCount = 48;

struct RecordFields {
    uint8_t testCount = 3;
    uint16_t temperatureTenths = 225;   // 22.5 °C
    uint8_t mode = 0;                   // 0 = system acquisition
    int8_t year = 12, month = 5, day = 18, hour = 9, minute = 7;
    uint16_t values[kPressureCount] = {};   // 0.001 MPa; [0..23] P20, [24..47] Pt
};

QByteArray encodeRecord(const RecordFields& r);
QByteArray makeSyncReply(const std::vector<QByteArray>& records);

// A believable test: alarm near 0.550, lock-out near 0.500, returns slightly above,
// Pt derived from the test temperature.
RecordFields plausibleRecord(int index, std::mt19937& rng);
std::vector<QByteArray> plausibleRecords(int count, uint32_t seed = 2012);
// At 30.0 °C Pt 0.405 MPa is P20 0.386 by the SF6 equation of state: a record
// whose every reading agrees; alarmP20 (0.001 MPa) puts the P20 报警值2 off.
RecordFields agreeingRecord(int day, uint16_t alarmP20 = 386);
// Distinct plausible records, one every quarter of an hour from 2010-01-01 08:00:
// about three thousand a month, for large archives.
std::vector<QByteArray> spreadRecords(int count, uint32_t seed = 5);

// One record a line, 105 bytes as hex (spaces allowed); '#' starts a comment.
bool loadRecordsFile(const QString& fileName, std::vector<QByteArray>* out, QString* error);

} // namespace sim
