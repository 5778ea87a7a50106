// A list row shows every acquisition mode but 0 as 手工输入, so a record
// rebuilt from it may differ from the archived one in that byte alone: the
// row is that record all the same, on every engine, and is never stored twice.
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "export/Workbook.h"
#include "import/Import.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"
#include "tests/archive/PgServer.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sf6;
using namespace sf6::import;
using archivetest::Engine;

namespace {

const auto* const kPgEnvironment = ::testing::AddGlobalTestEnvironment(new archivetest::PgEnvironment);

class SameTexts : public ::testing::TestWithParam<Engine> {};

int recordCount(Archive& a)
{
    auto n = countRecords(a, {});
    EXPECT_TRUE(n) << n.error().toStdString();
    return n ? *n : -1;
}

} // namespace

TEST_P(SameTexts, aRowWhoseTextsEqualAnArchivedRecordsIsThatRecord)
{
    QTemporaryDir dir;
    auto location = ArchiveLocation::parse(archivetest::freshLocation(GetParam(), dir));
    ASSERT_TRUE(location);
    auto opened = Archive::open(*location);
    ASSERT_TRUE(opened) << opened.error().toStdString();
    Archive& archive = **opened;

    // Modes 0 and 1 as the list shows them, and 2 and 255, both shown as 手工输入.
    std::vector<QByteArray> records = sim::plausibleRecords(6, 61);
    records[2][kRecMode] = 2;
    records[3][kRecMode] = char(0xFF);
    records[4][kRecMode] = 1;
    ASSERT_TRUE(archiveSync(archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 6,
                                             SyncEnd::Complete, records}));
    std::vector<QStringList> rows;
    for (size_t i = 0; i < records.size(); ++i)
        rows.push_back(decodeRecord(reinterpret_cast<const unsigned char*>(records[i].constData()), int(i) + 1));
    ASSERT_TRUE(writeWorkbook(listWorkbook(rows), dir.filePath(QStringLiteral("list.xlsx"))));

    const FileImport f = importFile(archive, dir.filePath(QStringLiteral("list.xlsx")));
    ASSERT_EQ(f.outcome, FileImport::Imported) << f.failure.toStdString();
    EXPECT_EQ(f.newRecords, 0);
    EXPECT_EQ(f.alreadyArchived, 6);
    EXPECT_EQ(f.matchedByTexts, 2);
    EXPECT_EQ(recordCount(archive), 6);
    EXPECT_EQ(importSummary({f}).toStdString(), "导入0条新记录，6条已在存档中（其中2条按相同的列表文字认出），0行无法导入");

    // The import's log names the archived records themselves.
    auto again = importFile(archive, dir.filePath(QStringLiteral("list.xlsx")));
    EXPECT_EQ(again.newRecords, 0);
    EXPECT_EQ(again.matchedByTexts, 2);
    EXPECT_EQ(recordCount(archive), 6);

    // Texts that differ in any column are another record: 系统采集 is not 手工输入,
    // and a reading one thousandth apart is another reading.
    QStringList other = rows[2];
    other[kColMode] = acquisitionModeText(0);
    QStringList reading = rows[3];
    reading[kFirstValueColumn + 5] = QStringLiteral("9.999");
    QFile tsv(dir.filePath(QStringLiteral("other.tsv")));
    ASSERT_TRUE(tsv.open(QIODevice::WriteOnly));
    tsv.write(columnCaptions().join(u'\t').toUtf8() + '\n' + other.join(u'\t').toUtf8() + '\n'
              + reading.join(u'\t').toUtf8() + '\n');
    tsv.close();
    const FileImport o = importFile(archive, dir.filePath(QStringLiteral("other.tsv")));
    ASSERT_EQ(o.outcome, FileImport::Imported) << o.failure.toStdString();
    EXPECT_EQ(o.newRecords, 2);
    EXPECT_EQ(o.matchedByTexts, 0);
    EXPECT_EQ(recordCount(archive), 8);

    // A sync brings the instrument's own bytes: a mode byte of its own is a record of its own.
    QByteArray third = records[2];
    third[kRecMode] = 3;
    auto synced = archiveSync(archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 1,
                                               SyncEnd::Complete, {third}});
    ASSERT_TRUE(synced);
    EXPECT_EQ(synced->newRecords, 1);
    EXPECT_EQ(synced->matchedByTexts, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, SameTexts, archivetest::testedEngines(), archivetest::engineName);
