// A list row turned back into its record's 105 bytes: every text the list
// makes gives back its bytes, numbers typed into a workbook count exactly,
// and a row that is no record is refused naming the column and the reason.
#include "import/RowRecord.h"
#include "sync/TestRecord.h"

#include <gtest/gtest.h>

#include <random>

using namespace sf6;
using namespace sf6::import;

namespace {

std::vector<Cell> textCells(const ListRow& row)
{
    std::vector<Cell> cells;
    for (const QString& t : row)
        cells.push_back(Cell::ofText(t));
    return cells;
}

const auto* bytes(const QByteArray& a) { return reinterpret_cast<const unsigned char*>(a.constData()); }

QByteArray sampleRecord()
{
    // 3 tests, 22.5 degC, 2012-05-18 09:07, 0.500 and 0.450, the rest 0.
    QByteArray r(kRecordSize, '\0');
    const unsigned char head[] = {0x03, 0x00, 0xE1, 0x00, 0x0C, 0x05, 0x12, 0x09, 0x07, 0x01, 0xF4, 0x01, 0xC2};
    for (size_t i = 0; i < sizeof head; ++i)
        r[int(i)] = char(head[i]);
    return r;
}

QString rebuildError(std::vector<Cell> cells)
{
    auto r = recordFromRow(cells, 1);
    return r ? QStringLiteral("(accepted)") : r.error();
}

} // namespace

TEST(RecordRebuild, everyListRowGivesBackItsBytesInAnyDecimalSeparator)
{
    std::mt19937 rng(17);
    std::vector<QByteArray> records;
    for (int i = 0; i < 500; ++i) {
        QByteArray r(kRecordSize, '\0');
        for (char& b : r)
            b = char(rng() & 0xFF);
        r[kRecMode] = char(rng() & 1);   // the list keeps only 系统采集 (0) and 手工输入
        records.push_back(r);
    }
    // The edges of each field: negative date bytes, the largest 16-bit values, zero.
    QByteArray edges(kRecordSize, '\xFF');
    edges[kRecMode] = 1;
    edges[kRecYear] = char(0x80);   // -128
    records.push_back(edges);
    records.push_back(QByteArray(kRecordSize, '\0'));

    for (const QLocale& locale : {QLocale(QLocale::Chinese, QLocale::China), QLocale(QLocale::German, QLocale::Germany)}) {
        for (const QByteArray& r : records) {
            const ListRow row = decodeRecord(bytes(r), 1, locale);
            auto rebuilt = recordFromRow(textCells(row), 1);
            ASSERT_TRUE(rebuilt) << rebuilt.error().toStdString() << " " << row.join(u'|').toStdString();
            EXPECT_EQ(rebuilt->toHex(' '), r.toHex(' ')) << row.join(u'|').toStdString();
        }
    }
}

TEST(RecordRebuild, numberCellsCountExactlyWithoutBinaryRoundingNoise)
{
    const ListRow row = decodeRecord(bytes(sampleRecord()), 1);
    std::vector<Cell> cells = textCells(row);
    cells[kColTemperature] = Cell::ofNumber(22.5);
    cells[kColTestCount] = Cell::ofNumber(3.0);
    cells[kFirstValueColumn] = Cell::ofNumber(0.5);                 // 0.5 is 0.500
    cells[kFirstValueColumn + 1] = Cell::ofNumber(0.45);            // not exact in binary
    cells[kFirstValueColumn + 2] = Cell::ofNumber(0.1 + 0.2);       // 0.30000000000000004
    cells[kFirstValueColumn + 3] = Cell::ofNumber(0.7 - 0.4);       // 0.29999999999999993
    cells[kFirstValueColumn + 4] = Cell::ofNumber(65.535);
    cells[kFirstValueColumn + 5] = Cell::ofText(QStringLiteral("0,5"));
    cells[kFirstValueColumn + 6] = Cell::ofText(QStringLiteral(" 1.2 "));
    cells[kFirstValueColumn + 7] = Cell::ofNumber(1e-3);
    auto r = recordFromRow(cells, 1);
    ASSERT_TRUE(r) << r.error().toStdString();
    const auto value = [&](int j) { return (int(uchar(r->at(kRecValues + 2 * j))) << 8) | uchar(r->at(kRecValues + 2 * j + 1)); };
    EXPECT_EQ((int(uchar(r->at(kRecTemperature))) << 8) | uchar(r->at(kRecTemperature + 1)), 225);
    EXPECT_EQ(int(r->at(kRecTestCount)), 3);
    EXPECT_EQ(value(0), 500);
    EXPECT_EQ(value(1), 450);
    EXPECT_EQ(value(2), 300);
    EXPECT_EQ(value(3), 300);
    EXPECT_EQ(value(4), 65535);
    EXPECT_EQ(value(5), 500);
    EXPECT_EQ(value(6), 1200);
    EXPECT_EQ(value(7), 1);

    EXPECT_EQ(decimalCounts(QStringLiteral("12.345"), 3, Rounding::Exact), 12345);
    EXPECT_EQ(decimalCounts(QStringLiteral("0.5000"), 3, Rounding::Exact), 500);      // a zero beyond counts nothing
    EXPECT_EQ(decimalCounts(QStringLiteral("0.5004"), 3, Rounding::Exact), std::nullopt);  // a text is taken as written
    EXPECT_EQ(decimalCounts(QStringLiteral("0.5004"), 3, Rounding::Nearest), 500);
    EXPECT_EQ(decimalCounts(QStringLiteral("4.35e1"), 1, Rounding::Exact), 435);
    EXPECT_EQ(decimalCounts(QStringLiteral("."), 3, Rounding::Exact), std::nullopt);
    EXPECT_EQ(decimalCounts(QStringLiteral("1.2.3"), 3, Rounding::Exact), std::nullopt);
    EXPECT_EQ(decimalCounts(QStringLiteral("99999999999999999999"), 3, Rounding::Exact), std::nullopt);
}

TEST(RecordRebuild, refusesARowNamingTheColumnAndTheReason)
{
    const std::vector<Cell> good = textCells(decodeRecord(bytes(sampleRecord()), 1));
    ASSERT_EQ(rebuildError(good), QStringLiteral("(accepted)"));
    struct Case {
        int column;
        Cell cell;
        QString error;
    };
    const Case cases[] = {
        {kColTemperature, Cell::ofText(QStringLiteral("abc")), QStringLiteral("列“温度”：“abc”不是温度")},
        {kColTemperature, Cell::ofText(QStringLiteral("6553.6°C")), QStringLiteral("列“温度”：“6553.6°C”超出0.0°C至6553.5°C")},
        {kColTime, Cell::ofText(QStringLiteral("2012-05-18")), QStringLiteral("列“时间”：“2012-05-18”不是日期时间")},
        {kColTime, Cell::ofText(QStringLiteral("20200-05-18 09:07")), QStringLiteral("列“时间”：“20200-05-18 09:07”不是日期时间")},
        {kColMode, Cell::ofText(QStringLiteral("自动")), QStringLiteral("列“采集方式”：“自动”不是“系统采集”或“手工输入”")},
        {kColTestCount, Cell::ofText(QStringLiteral("256")), QStringLiteral("列“测试次数”：“256”不是0至255的测试次数")},
        {kColTestCount, Cell::ofNumber(2.5), QStringLiteral("列“测试次数”：“2.5”不是0至255的测试次数")},
        {kFirstValueColumn, Cell::ofText(QStringLiteral("65.536")), QStringLiteral("列“P20均报警值”：“65.536”超出0.000至65.535")},
        {kFirstValueColumn, Cell::ofNumber(-0.001), QStringLiteral("列“P20均报警值”：“-0.001”超出0.000至65.535")},
        {kFirstValueColumn + 1, Cell::ofText(QStringLiteral("0.5x")), QStringLiteral("列“P20均闭锁值1”：“0.5x”不是压力值")},
        {kColumnCount - 1, Cell::ofText(QString()), QStringLiteral("列“Pt闭锁回2-3”：缺少值")},
    };
    for (const Case& c : cases) {
        std::vector<Cell> cells = good;
        cells[size_t(c.column)] = c.cell;
        EXPECT_EQ(rebuildError(cells), c.error);
    }
    std::vector<Cell> shorter(good.begin(), good.end() - 1);
    EXPECT_EQ(rebuildError(shorter), QStringLiteral("列“Pt闭锁回2-3”：缺少值"));
    std::vector<Cell> longer = good;
    longer.push_back(Cell::ofText(QStringLiteral("x")));
    EXPECT_EQ(rebuildError(longer), QStringLiteral("第54列“x”多余"));
    longer.back() = Cell::ofText(QString());   // an empty cell beyond the last column is none
    EXPECT_EQ(rebuildError(longer), QStringLiteral("(accepted)"));
}

TEST(RecordRebuild, headerIsOneOfTheExportsOrTheFirstDifferingCaptionIsNamed)
{
    const QStringList list = columnCaptions();
    QStringList history = list;
    history[0] = QStringLiteral("档案号");
    QStringList archiveList = history;
    archiveList.insert(1, QStringLiteral("存档时间"));
    EXPECT_EQ(*checkHeader(list), 1);
    EXPECT_EQ(*checkHeader(history), 1);
    EXPECT_EQ(*checkHeader(archiveList), 2);

    QStringList renamed = list;
    renamed[2] = QStringLiteral("温度(°C)");
    EXPECT_EQ(checkHeader(renamed).error(), QStringLiteral("第一行不是导出的列标题：第3列应为“温度”，实为“温度(°C)”"));
    QStringList quoteless = list;
    quoteless[51].chop(1);   // the list's own caption ends in a double quote
    EXPECT_EQ(checkHeader(quoteless).error(),
              QStringLiteral("第一行不是导出的列标题：第52列应为“Pt闭锁回2-2\"”，实为“Pt闭锁回2-2”"));
    EXPECT_EQ(checkHeader(QStringList{QStringLiteral("序号")} + list.mid(1)).error(),
              QStringLiteral("第一行不是导出的列标题：第1列应为“组数”或“档案号”，实为“序号”"));
    EXPECT_EQ(checkHeader(list.mid(0, 52)).error(), QStringLiteral("第一行不是导出的列标题：第53列应为“Pt闭锁回2-3”，实为“”"));
    EXPECT_EQ(checkHeader(list + QStringList{QStringLiteral("备注")}).error(),
              QStringLiteral("第一行不是导出的列标题：第54列“备注”多余"));
}

TEST(RecordRebuild, aTimeKeptAsADateNumberCountsFromTheWorkbooksFirstDay)
{
    const QByteArray expected = sampleRecord();   // 2012-05-18 09:07
    const std::vector<Cell> good = textCells(decodeRecord(bytes(expected), 1));
    constexpr double kMinutes = (9 * 60 + 7) / 1440.0;
    struct Case {
        double serial;
        DateSystem dates;
    };
    // Excel numbers 2012-05-18 as 41047 from 1899-12-30, as 39585 from 1904-01-01.
    for (const Case& c : {Case{41047 + kMinutes, DateSystem::From1900}, Case{39585 + kMinutes, DateSystem::From1904}}) {
        std::vector<Cell> cells = good;
        cells[kColTime] = Cell::ofNumber(c.serial);
        auto r = recordFromRow(cells, 1, c.dates);
        ASSERT_TRUE(r) << r.error().toStdString();
        EXPECT_EQ(r->toHex(' '), expected.toHex(' ')) << c.serial;
    }

    // A workbook whose date system is not understood: its date numbers are refused, its texts still read.
    std::vector<Cell> cells = good;
    cells[kColTime] = Cell::ofNumber(41047 + kMinutes);
    auto unknown = recordFromRow(cells, 1, DateSystem::Unknown);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error(), QStringLiteral("列“时间”：“%1”是日期数，但工作簿的日期系统无法读出").arg(shortestText(41047 + kMinutes)));
    EXPECT_TRUE(recordFromRow(good, 1, DateSystem::Unknown));
}
