#pragma once
// Record and reply bytes for the sync and panel tests.

#include <QByteArray>

#include <random>
#include <vector>

#include "sync/ReceiveLoop.h"

namespace sf6::testdata {

// Count 3, 22.5 degC, system acquisition, 2012-05-18 09:07, 0.500, 0.450, then zeros.
inline QByteArray workedExampleRecord()
{
    QByteArray r = QByteArray::fromHex("0300E1000C05120907" "01F401C2");
    return r + QByteArray(kRecordSize - r.size(), '\0');
}

inline std::vector<QByteArray> randomRecords(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<QByteArray> records(size_t(n), QByteArray(kRecordSize, '\0'));
    for (QByteArray& r : records)
        for (char& c : r)
            c = char(rng());
    return records;
}

inline QByteArray makeReply(const std::vector<QByteArray>& records)
{
    QByteArray reply = QByteArray::fromHex("A5") + char(records.size()) + QByteArray::fromHex("5A");
    for (const QByteArray& r : records)
        reply += r;
    return reply + QByteArray::fromHex("0D0A");
}

inline const unsigned char* bytes(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}

} // namespace sf6::testdata
