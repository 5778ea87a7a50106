#include <gtest/gtest.h>

#include "sync/TestRecord.h"
#include "tests/sync/SyncTestData.h"

using namespace sf6;
using testdata::bytes;

namespace {

ListRow decodeWith(std::initializer_list<std::pair<int, int>> edits, const QLocale& locale = QLocale::c())
{
    QByteArray r = testdata::workedExampleRecord();
    for (auto [offset, value] : edits)
        r[offset] = char(value);
    return decodeRecord(bytes(r), 1, locale);
}

} // namespace

TEST(TestRecord, WorkedExampleRow)
{
    const ListRow row = decodeWith({});
    ASSERT_EQ(row.size(), kColumnCount);
    const QStringList head{"1", "2012-05-18 09:07", "22.5°C", "系统采集", "3", "0.500", "0.450"};
    EXPECT_EQ(row.mid(0, 7), head);
    EXPECT_EQ(row.mid(7), QStringList(kColumnCount - 7, "0.000"));
}

TEST(TestRecord, FieldEncodings)
{
    // Date bytes are signed: year 0, month C8 (-56), day FB (-5), hour 99, minute 80 (-128).
    EXPECT_EQ(decodeWith({{4, 0x00}, {5, 0xC8}, {6, 0xFB}, {7, 99}, {8, 0x80}})[1], "2000--56--05 99:-128");
    const ListRow big = decodeWith({{1, 0xFF}, {2, 0xFF}, {9, 0xFF}, {10, 0xFF}, {11, 0x30}, {12, 0x39}, {13, 0}, {14, 0x0A}});
    EXPECT_EQ(big[2], "6553.5°C");
    EXPECT_EQ(big[5], "65.535");
    EXPECT_EQ(big[6], "12.345");
    EXPECT_EQ(big[7], "0.010");
    EXPECT_EQ(decodeWith({{1, 0}, {2, 5}})[2], "0.5°C");
    EXPECT_EQ(decodeWith({{3, 1}})[3], "手工输入");
    EXPECT_EQ(decodeWith({{3, 255}})[3], "手工输入");
    EXPECT_EQ(decodeWith({{0, 255}})[4], "255");
}

TEST(TestRecord, EachValueLandsInItsColumn)
{
    QByteArray r = testdata::workedExampleRecord();
    for (int j = 0; j < kValueCount; ++j) {   // value j reads (j + 1).000
        r[kRecValues + 2 * j] = char((1000 * (j + 1)) >> 8);
        r[kRecValues + 2 * j + 1] = char((1000 * (j + 1)) & 0xFF);
    }
    const ListRow row = decodeRecord(bytes(r), 1, QLocale::c());
    for (int j = 0; j < kValueCount; ++j)
        EXPECT_EQ(row[kFirstValueColumn + j], QString("%1.000").arg(j + 1));
}

TEST(TestRecord, DecimalSeparatorFollowsLocale)
{
    const ListRow row = decodeWith({}, QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(row[2], "22,5°C");
    EXPECT_EQ(row[5], "0,500");
    EXPECT_EQ(decodeWith({}, QLocale(QLocale::Chinese, QLocale::China))[6], "0.450");
}
