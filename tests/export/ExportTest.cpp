#include "ui/MessageBox.h"
#include "export/ListView2Excel.h"
#include "export/Workbook.h"
#include "sync/Columns.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <chrono>
#include <cmath>
#include <gtest/gtest.h>

using namespace sf6;
using namespace Qt::StringLiterals;

namespace {

constexpr auto kReaderTimeout = std::chrono::milliseconds(std::chrono::seconds(60));
const QString kFont = u"MS Sans Serif"_s;
constexpr int kFontPt = 8;
constexpr int kWidened = 7;

// Sheet 1 as Debian's openpyxl reads it: nothing of ours takes part in reading.
QJsonObject readBack(const QString& file)
{
    QProcess p;
    p.start(u"/usr/bin/python3"_s, {QStringLiteral(SF6_EXPORT_READER), file});
    if (!p.waitForFinished(int(kReaderTimeout.count())) || p.exitCode() != 0)
        ADD_FAILURE() << "reader failed (python3-openpyxl?): " << p.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

QJsonObject cell(const QJsonObject& s, int row, int col)   // 1-based like the sheet
{
    return s["cells"_L1][row - 1][col - 1].toObject();
}

QJsonObject column(const QJsonObject& s, int col)
{
    for (const auto v : s["columns"_L1].toArray())
        if (v["min"_L1].toInt() <= col && col <= v["max"_L1].toInt())
            return v.toObject();
    return {};
}

// The width the spreadsheet shows: files store it padded to whole pixels of the
// default font (7-pixel digits, 5 pixels padding).
double shownWidth(const QJsonObject& col)
{
    const double px = std::trunc((256 * col["width"_L1].toDouble() + std::trunc(128.0 / 7)) / 256 * 7);
    return std::round((px - 5) / 7 * 100) / 100;
}

QString entries(const QTemporaryDir& d)   // hidden ones too: that is where a temporary would hide
{
    return QDir(d.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name).join('|');
}

QString valueText(int row, int col) { return QString::number(0.5 + 0.001 * (row * 100 + col - 5), 'f', 3); }

void fillList(QTreeWidget& w, int rows)
{
    w.setHeaderLabels(columnCaptions());
    w.setFont(QFont(kFont, kFontPt));
    for (int k = 0; k < kColumnCount; ++k)
        w.setColumnWidth(k, defaultColumnWidth(k));
    for (int i = 0; i < rows; ++i) {
        QStringList t{QString::number(i + 1), u"2012-05-18 09:07"_s, u"22.5°C"_s, u"自动"_s, u"3"_s};
        for (int k = kFirstValueColumn; k < kColumnCount; ++k)
            t << valueText(i, k);
        new QTreeWidgetItem(&w, t);
    }
}

class ThreeRowExport : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QTemporaryDir dir;
        QTreeWidget list;
        fillList(list, 3);
        list.setColumnWidth(kWidened, 200);
        ui::MessageRecorder rec;
        ListView2Excel(&list, dir.filePath(u"导出.xlsx"_s));
        EXPECT_TRUE(rec.messages.empty()) << rec.texts().join('\n').toStdString();
        s = readBack(dir.filePath(u"导出.xlsx"_s));
    }
    static inline QJsonObject s;
};

TEST_F(ThreeRowExport, HeaderThenRecordsAsListedEachCellCentredBorderedSize11)
{
    ASSERT_EQ(s["max_row"_L1].toInt(), 4);
    ASSERT_EQ(s["max_column"_L1].toInt(), kColumnCount);
    const QJsonArray thin{"thin"_L1, "thin"_L1, "thin"_L1, "thin"_L1};
    for (int r = 1; r <= 4; ++r)
        for (int k = 0; k < kColumnCount; ++k) {
            const QJsonObject x = cell(s, r, k + 1);
            if (r == 1) {
                EXPECT_EQ(x["value"_L1].toString(), columnCaptions()[k]) << k;
            } else if (k >= kFirstValueColumn) {
                EXPECT_EQ(x["value"_L1].toString(), valueText(r - 2, k)) << r << ',' << k;
            }
            EXPECT_EQ(x["type"_L1].toString(), r > 1 && k == 0 ? "n"_L1 : "s"_L1) << r << ',' << k;
            EXPECT_EQ(x["align"_L1].toString(), "center"_L1) << r << ',' << k;
            EXPECT_EQ(x["font"_L1]["name"_L1].toString(), kFont);
            EXPECT_EQ(x["font"_L1]["sz"_L1].toDouble(), kCellFontSize);
            EXPECT_EQ(x["borders"_L1].toArray(), thin) << r << ',' << k;
        }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cell(s, i + 2, 1)["value"_L1].toDouble(), i + 1);
        EXPECT_EQ(cell(s, i + 2, 2)["value"_L1].toString(), "2012-05-18 09:07"_L1);
        EXPECT_EQ(cell(s, i + 2, 3)["value"_L1].toString(), u"22.5°C"_s);
    }
    EXPECT_EQ(cell(s, 2, kFirstValueColumn + 1)["value"_L1].toString(), "0.500"_L1);
}

TEST_F(ThreeRowExport, WidthsHeightsAndListFontOnEmptyCells)
{
    EXPECT_EQ(shownWidth(column(s, 1)), 5);
    EXPECT_EQ(shownWidth(column(s, 2)), 15);
    for (int c = 3; c <= kColumnCount; ++c)
        EXPECT_EQ(shownWidth(column(s, c)), c == kWidened + 1 ? 24 : 12) << c;
    EXPECT_EQ(s["rows"_L1]["1"_L1]["height"_L1].toDouble(), 20);
    for (const char* r : {"2", "3", "4"}) {
        EXPECT_EQ(s["rows"_L1][QLatin1String(r)]["height"_L1].toDouble(), 16);
        EXPECT_FALSE(s["rows"_L1][QLatin1String(r)]["styled"_L1].toBool());   // else it hides the column style
    }
    // A reader shows an empty cell in its column's style: below the records, in BB, in the last column.
    EXPECT_FALSE(cell(s, 5, 3)["exists"_L1].toBool());
    EXPECT_FALSE(cell(s, 2, kColumnCount + 1)["exists"_L1].toBool());
    for (int c : {3, kColumnCount + 1, 16384}) {
        EXPECT_EQ(column(s, c)["font"_L1]["name"_L1].toString(), kFont) << c;
        EXPECT_EQ(column(s, c)["font"_L1]["sz"_L1].toDouble(), kFontPt) << c;
    }
}

TEST(ExportWorkbook, EmptyListAndOddRows)
{
    QTemporaryDir dir;
    WorkbookInput in{columnCaptions(), {}, kFont, kFontPt, {}};
    ASSERT_TRUE(writeWorkbook(in, dir.filePath(u"e.xlsx"_s)).ok());
    const QJsonObject empty = readBack(dir.filePath(u"e.xlsx"_s));
    EXPECT_EQ(empty["max_row"_L1].toInt(), 1);
    EXPECT_EQ(cell(empty, 1, kColumnCount)["value"_L1].toString(), columnCaptions().last());

    // A record number that is no number stays text; a short row leaves the rest unwritten.
    in.rows = {{u"12"_s}, {u"x1"_s, u"t"_s}};
    ASSERT_TRUE(writeWorkbook(in, dir.filePath(u"o.xlsx"_s)).ok());
    const QJsonObject odd = readBack(dir.filePath(u"o.xlsx"_s));
    EXPECT_EQ(cell(odd, 2, 1)["type"_L1].toString(), "n"_L1);
    EXPECT_FALSE(cell(odd, 2, 2)["exists"_L1].toBool());
    EXPECT_EQ(cell(odd, 3, 1)["value"_L1].toString(), "x1"_L1);
}

TEST(ExportWorkbook, FailureIsReportedAndLeavesNoFile)
{
    QTemporaryDir dir;
    QFile plain(dir.filePath(u"plain"_s));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    WorkbookInput in{columnCaptions(), {}, kFont, kFontPt, {}};
    for (const QString& name : {dir.filePath(u"missing/a.xlsx"_s), dir.filePath(u"plain/a.xlsx"_s)}) {
        const Status r = writeWorkbook(in, name);
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.message().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(name));
    }

    // A cell the library refuses fails the export; the earlier file stays whole.
    const QString old = dir.filePath(u"old.xlsx"_s);
    ASSERT_TRUE(writeWorkbook(in, old).ok());
    QFile f(old);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();
    WorkbookInput tooLong = in;
    tooLong.rows = {{u"1"_s, QString(40000, u'x')}};
    const Status r = writeWorkbook(tooLong, old);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.message().isEmpty());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    f.close();   // Windows replaces no file that is open
    EXPECT_EQ(entries(dir), "old.xlsx|plain"_L1);

    in.rows = {{u"1"_s}};   // and a good export replaces it
    ASSERT_TRUE(writeWorkbook(in, old).ok());
    EXPECT_EQ(readBack(old)["max_row"_L1].toInt(), 2);
    EXPECT_EQ(entries(dir), "old.xlsx|plain"_L1);
}

// Rows fed one at a time make the very sheet the held rows make: same cells,
// types, fonts, borders, widths and heights; a feed that fails costs the file
// and leaves an older one whole, with no temporary behind.
TEST(ExportWorkbook, RowsFedOneAtATimeMakeTheSameSheetAndAFailedFeedNoFile)
{
    QTemporaryDir dir;
    WorkbookInput held{columnCaptions(), {}, kFont, kFontPt, {}};
    for (int r = 1; r <= 4; ++r) {
        QStringList row{QString::number(r), u"2012-05-2%1 10:0%1"_s.arg(r)};
        for (int c = 2; c < kColumnCount; ++c)
            row << valueText(r, c);
        held.rows.push_back(row);
    }
    held.rows.push_back({u"x5"_s, u"短行 \"引号\" <&>"_s});
    const QString heldFile = dir.filePath(u"held.xlsx"_s), fedFile = dir.filePath(u"fed.xlsx"_s);
    ASSERT_TRUE(writeWorkbook(held, heldFile).ok());
    WorkbookInput layout = held;
    layout.rows.clear();
    const RowFeed feed = [&held](const AddRow& add) {
        for (const QStringList& row : held.rows)
            add(row);
        return Status::success();
    };
    const Status fed = writeWorkbook(layout, feed, fedFile);
    ASSERT_TRUE(fed.ok()) << fed.message().toStdString();
    const QJsonObject a = readBack(heldFile), b = readBack(fedFile);
    EXPECT_EQ(a["max_row"_L1].toInt(), 6);
    EXPECT_EQ(a, b);

    const QString before = entries(dir);
    const RowFeed broken = [](const AddRow& add) {
        add({u"1"_s});
        return Status::failure(u"存档读取中断"_s);
    };
    const Status r = writeWorkbook(layout, broken, fedFile);
    EXPECT_EQ(r.message(), u"存档读取中断"_s);
    EXPECT_EQ(readBack(fedFile), b);
    EXPECT_EQ(entries(dir), before);
}

TEST(ExportList, FailureShowsOneCriticalMessage)
{
    QTemporaryDir dir;
    QTreeWidget list;
    fillList(list, 1);
    ui::MessageRecorder rec;
    const QString name = dir.filePath(u"missing/a.xlsx"_s);
    ListView2Excel(&list, name);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].caption, "ListView2Excel"_L1);
    EXPECT_EQ(rec.messages[0].icon, QMessageBox::Critical);
    const QString head = u"导出失败：无法写入 "_s + QDir::toNativeSeparators(name) + u"："_s;
    EXPECT_TRUE(rec.messages[0].text.startsWith(head)) << rec.messages[0].text.toStdString();
    EXPECT_GT(rec.messages[0].text.size(), head.size() + 1);   // the reason follows
}

TEST(ExportWorkbook, SaveNameGetsXlsxOnlyWithoutExtension)
{
    EXPECT_EQ(withXlsxExtension(u"/d.v2/记录"_s), u"/d.v2/记录.xlsx"_s);
    EXPECT_EQ(withXlsxExtension(u"a."_s), u"a.xlsx"_s);
    EXPECT_EQ(withXlsxExtension(u"a.xls"_s), u"a.xls"_s);
    EXPECT_EQ(withXlsxExtension(QString()), QString());
}

} // namespace
