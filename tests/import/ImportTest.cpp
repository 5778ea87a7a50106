// Earlier exports back into a real SQLite archive: every format this program
// and other writers make, each record stored once as a sync stores it, the
// import logged, and files that are no export refused whole.
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "archive/Audit.h"
#include "export/Workbook.h"
#include "import/Import.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace sf6;
using namespace sf6::import;

namespace {

const auto* bytes(const QByteArray& a) { return reinterpret_cast<const unsigned char*>(a.constData()); }

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto location = ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        ASSERT_TRUE(location);
        auto opened = Archive::open(*location);
        ASSERT_TRUE(opened) << opened.error().toStdString();
        archive = *opened;
        ASSERT_TRUE(QDir().mkpath(dir.filePath(kFolder)));
    }

    // The files to import lie in a folder named in Chinese with a space, as users' do.
    QString path(const QString& name) const { return dir.filePath(kFolder + u'/' + name); }
    // The file as messages name it: with the system's own separators.
    QString shown(const QString& name) const { return QDir::toNativeSeparators(path(name)); }

    void write(const QString& name, const QByteArray& content) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    // rows as another program writes them: python3-xlwt (.xls) or python3-openpyxl (.xlsx). Where no
    // Python runs (the Windows build under Wine) it is the workbook checked in under fixtures/, made
    // from the same rows; either way the checked-in rows must still be these.
    // rows: a list of rows, or an object that also names the workbook's date system (write_workbook.py).
    void writeForeignWorkbook(const QString& name, const QJsonValue& rows) const
    {
        const QJsonDocument content = rows.isObject() ? QJsonDocument(rows.toObject()) : QJsonDocument(rows.toArray());
#ifdef SF6_WORKBOOK_WRITER
        const QString kind = QFileInfo(name).suffix();
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(SF6_WORKBOOK_WRITER), kind, path(name)});
        p.write(content.toJson());
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        // SF6_IMPORT_FIXTURES_OUT=tests/import/fixtures remakes the checked-in workbooks.
        const QString out = qEnvironmentVariable("SF6_IMPORT_FIXTURES_OUT");
        if (!out.isEmpty()) {
            QFile::remove(out + u'/' + name);
            ASSERT_TRUE(QFile::copy(path(name), out + u'/' + name));
            QFile json(out + u'/' + name + QStringLiteral(".json"));
            ASSERT_TRUE(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
            json.write(content.toJson());
        }
#else
        ASSERT_TRUE(QFile::copy(QStringLiteral(":/fixtures/") + name, path(name))) << name.toStdString();
        ASSERT_TRUE(QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner));
#endif
        QFile made(QStringLiteral(":/fixtures/") + name + QStringLiteral(".json"));
        ASSERT_TRUE(made.open(QIODevice::ReadOnly)) << name.toStdString() << " has no checked-in workbook";
        EXPECT_EQ(QJsonDocument::fromJson(made.readAll()), content)
            << "the checked-in " << name.toStdString() << " was made from other rows; remake it (fixtures/README.md)";
    }

    std::vector<QByteArray> archivedRaw() const
    {
        auto list = listRecords(*archive, {});
        EXPECT_TRUE(list);
        std::vector<QByteArray> out;
        for (const ArchivedRecord& r : *list)
            out.push_back(r.raw);
        std::sort(out.begin(), out.end());
        return out;
    }

    const QString kFolder = QStringLiteral("旧的 导出");
    QTemporaryDir dir;
    std::shared_ptr<Archive> archive;
};

std::vector<QStringList> listRows(const std::vector<QByteArray>& records)
{
    std::vector<QStringList> rows;
    for (size_t i = 0; i < records.size(); ++i)
        rows.push_back(decodeRecord(bytes(records[i]), int(i) + 1));
    return rows;
}

QByteArray tsvOf(const std::vector<QStringList>& rows)
{
    QByteArray out = columnCaptions().join(u'\t').toUtf8() + '\n';
    for (const QStringList& r : rows)
        out += r.join(u'\t').toUtf8() + '\n';
    return out;
}

std::vector<QByteArray> sorted(std::vector<QByteArray> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST_F(ImportTest, storesEachRecordOnceRefusesBadRowsAndLogsTheFile)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(6);
    std::vector<QStringList> rows = listRows(records);
    rows[2][kColTemperature] = QStringLiteral("abc");   // row 4 of the file
    rows.push_back(rows[0]);                            // the same record twice in one file
    write(QStringLiteral("list.tsv"), tsvOf(rows));

    FileImport first = importFile(*archive, path(QStringLiteral("list.tsv")));
    ASSERT_EQ(first.outcome, FileImport::Imported) << first.failure.toStdString();
    EXPECT_EQ(first.rowsRead, 7);
    EXPECT_EQ(first.newRecords, 5);
    EXPECT_EQ(first.alreadyArchived, 1);
    ASSERT_EQ(first.refusedRows.size(), 1);
    EXPECT_EQ(first.refusedRows[0].toStdString(),
              (shown(QStringLiteral("list.tsv")) + QStringLiteral(":4: 列“温度”：“abc”不是温度")).toStdString());
    std::vector<QByteArray> expected = records;
    expected.erase(expected.begin() + 2);
    EXPECT_EQ(archivedRaw(), sorted(expected));

    // Imported again, or synced later, a record is stored once.
    FileImport again = importFile(*archive, path(QStringLiteral("list.tsv")));
    EXPECT_EQ(again.newRecords, 0);
    EXPECT_EQ(again.alreadyArchived, 6);
    ASSERT_TRUE(archiveSync(*archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 6,
                                              SyncEnd::Complete, records}));
    EXPECT_EQ(archivedRaw(), sorted(records));
    EXPECT_EQ(importSummary({first, again}).toStdString(), "导入5条新记录，7条已在存档中，2行无法导入");

    QFile f(path(QStringLiteral("list.tsv")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
    QSqlQuery q(archive->database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT program, port, record_total, rows_received, new_records, file_sha256, "
                                      "rows_refused FROM syncs ORDER BY id")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("import"));
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("list.tsv"));
    EXPECT_EQ(q.value(2).toInt(), 7);   // rows read
    EXPECT_EQ(q.value(3).toInt(), 6);   // rows that gave a record
    EXPECT_EQ(q.value(4).toInt(), 5);
    EXPECT_EQ(q.value(5).toString(), sha);
    EXPECT_EQ(q.value(6).toInt(), 1);
}

TEST_F(ImportTest, readsTheListWorkbookThisProgramWritesBothWays)
{
    // Any bytes a record can hold, negative date fields and the largest values among them.
    std::mt19937 rng(7);
    std::vector<QByteArray> records;
    for (int i = 0; i < 40; ++i) {
        QByteArray r(kRecordSize, '\0');
        for (char& b : r)
            b = char(rng() & 0xFF);
        r[kRecMode] = char(i % 2);
        records.push_back(r);
    }
    records.push_back(QByteArray(kRecordSize, '\xFF').replace(kRecMode, 1, "\x01"));
    const std::vector<QStringList> rows = listRows(records);
    ASSERT_TRUE(writeWorkbook(listWorkbook(rows), path(QStringLiteral("list.xlsx"))));
    // The streamed writer keeps its texts in the cells, not in shared strings.
    const RowFeed feed = [&rows](const AddRow& add) {
        for (const QStringList& r : rows)
            add(r);
        return Status::success();
    };
    ASSERT_TRUE(writeWorkbook(listWorkbook({}), feed, path(QStringLiteral("streamed.xlsx"))));
    for (const QString& name : {QStringLiteral("list.xlsx"), QStringLiteral("streamed.xlsx")}) {
        const FileImport f = importFile(*archive, path(name));
        ASSERT_EQ(f.outcome, FileImport::Imported) << f.failure.toStdString();
        EXPECT_TRUE(f.refusedRows.isEmpty()) << f.refusedRows.join(u'\n').toStdString();
        EXPECT_EQ(f.rowsRead, 41);
    }
    EXPECT_EQ(archivedRaw(), sorted(records));
}

TEST_F(ImportTest, readsWorkbooksOfOtherWritersWithTextAndNumberCells)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(3, 11);
    for (const QString& kind : {QStringLiteral("xls"), QStringLiteral("xlsx")}) {
        QJsonArray sheet{QJsonArray::fromStringList(columnCaptions())};
        for (const QStringList& r : listRows(records))
            sheet.append(QJsonArray::fromStringList(r));
        // A user who retyped cells leaves numbers: 0.5 for 0.500, 0.1 + 0.2 for 0.300, 3 for the count,
        // and a date-time the spreadsheet recognised.
        QByteArray typed = records[0];
        typed[kRecValues] = 0x01, typed[kRecValues + 1] = char(0xF4);      // 0.500
        typed[kRecValues + 2] = 0x01, typed[kRecValues + 3] = 0x2C;        // 0.300
        typed[kRecTestCount] = 3;
        typed[kRecTemperature] = 0x00, typed[kRecTemperature + 1] = char(0xE1);   // 22.5
        QJsonArray row = QJsonArray::fromStringList(decodeRecord(bytes(typed), 4));
        row[kFirstValueColumn] = 0.5;
        row[kFirstValueColumn + 1] = QJsonObject{{QStringLiteral("sum"), QJsonArray{0.1, 0.2}}};
        row[kColTestCount] = 3;
        row[kColTemperature] = 22.5;
        row[kColTime] = QJsonObject{{QStringLiteral("datetime"), QStringLiteral("2012-05-18 09:07")}};
        typed[kRecYear] = 12, typed[kRecMonth] = 5, typed[kRecDay] = 18, typed[kRecHour] = 9, typed[kRecMinute] = 7;
        row[kFirstValueColumn + 2] = decodeRecord(bytes(typed), 4)[kFirstValueColumn + 2].replace(u'.', u',');
        sheet.append(row);
        sheet.append(QJsonArray{QStringLiteral("5"), QStringLiteral("2012-05-18")});   // row 6: too short
        const QString name = QStringLiteral("other.") + kind;
        writeForeignWorkbook(name, sheet);

        const FileImport f = importFile(*archive, path(name));
        ASSERT_EQ(f.outcome, FileImport::Imported) << kind.toStdString() << f.failure.toStdString();
        EXPECT_EQ(f.rowsRead, 5) << kind.toStdString();
        ASSERT_EQ(f.refusedRows.size(), 1) << kind.toStdString();
        EXPECT_EQ(f.refusedRows[0].toStdString(),
                  (shown(name) + QStringLiteral(":6: 列“温度”：缺少值")).toStdString());
        std::vector<QByteArray> expected = records;
        expected.push_back(typed);
        EXPECT_EQ(archivedRaw(), sorted(expected)) << kind.toStdString();
    }
}

TEST_F(ImportTest, readsDateNumbersOfWorkbooksSavedWithThe1904DateSystem)
{
    // Excel for Mac counts from 1904-01-01: read as 1900 dates every time would be 1,462 days early.
    std::vector<QByteArray> expected;
    int seed = 19;
    for (const QString& kind : {QStringLiteral("xls"), QStringLiteral("xlsx")}) {
        const std::vector<QByteArray> records = sim::plausibleRecords(2, ++seed);
        QJsonArray sheet{QJsonArray::fromStringList(columnCaptions())};
        const char* cellKinds[] = {"datetime", "datenumber"};   // date-formatted, and a plain number
        for (size_t i = 0; i < records.size(); ++i) {
            QJsonArray row = QJsonArray::fromStringList(decodeRecord(bytes(records[i]), int(i) + 1));
            row[kColTime] = QJsonObject{{QLatin1String(cellKinds[i]), row[kColTime].toString()}};
            sheet.append(row);
        }
        const QString name = QStringLiteral("dates1904.") + kind;
        writeForeignWorkbook(name, QJsonObject{{QStringLiteral("date1904"), true}, {QStringLiteral("rows"), sheet}});

        const FileImport f = importFile(*archive, path(name));
        ASSERT_EQ(f.outcome, FileImport::Imported) << kind.toStdString() << f.failure.toStdString();
        EXPECT_TRUE(f.refusedRows.isEmpty()) << f.refusedRows.join(u'\n').toStdString();
        EXPECT_EQ(f.newRecords, 2) << kind.toStdString();
        expected.insert(expected.end(), records.begin(), records.end());
        EXPECT_EQ(archivedRaw(), sorted(expected)) << kind.toStdString();
    }
}

TEST_F(ImportTest, readsJsonWithNumbersEscapesAndKeysInAnyOrderAfterTheFirstRow)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(3, 5);
    const std::vector<QStringList> rows = listRows(records);
    auto object = [](const QStringList& keys, const QStringList& row, int numberColumn) {
        QByteArray out = "{";
        for (qsizetype c = 0; c < keys.size(); ++c) {
            const qsizetype at = columnCaptions().indexOf(keys[c]);
            QByteArray value = QJsonDocument(QJsonArray{row[at]}).toJson(QJsonDocument::Compact).mid(1);
            value.chop(1);
            if (at == numberColumn)
                value = row[at].toUtf8();   // a number, not a text
            out += (c ? ", " : "") + QJsonDocument(QJsonArray{keys[c]}).toJson(QJsonDocument::Compact).mid(1).chopped(1)
                + ": " + value;
        }
        return out + "}";
    };
    QStringList reversed = columnCaptions();
    std::reverse(reversed.begin(), reversed.end());
    QByteArray second = object(reversed, rows[1], -1);
    second.replace("\"手工输入\"", "\"\\u624b\\u5de5\\u8f93\\u5165\"").replace("\"系统采集\"", "\"\\u7cfb\\u7edf\\u91c7\\u96c6\"");
    QByteArray third = object(columnCaptions(), rows[2], kFirstValueColumn);
    third.chop(1);
    third += ", \"备注\": \"x\"}";
    write(QStringLiteral("list.json"), "[\n  " + object(columnCaptions(), rows[0], kFirstValueColumn) + ",\n  " + second
                                           + ",\n  " + third + "\n]\n");
    const FileImport f = importFile(*archive, path(QStringLiteral("list.json")));
    ASSERT_EQ(f.outcome, FileImport::Imported) << f.failure.toStdString();
    ASSERT_EQ(f.refusedRows.size(), 1);
    EXPECT_EQ(f.refusedRows[0].toStdString(), (shown(QStringLiteral("list.json")) + QStringLiteral(":4: 第54列“备注”多余")).toStdString());
    EXPECT_EQ(archivedRaw(), sorted({records[0], records[1]}));

    // The first object's keys are the header, in their order.
    write(QStringLiteral("reversed.json"), "[" + object(reversed, rows[0], -1) + "]");
    const FileImport r = importFile(*archive, path(QStringLiteral("reversed.json")));
    EXPECT_EQ(r.failure.toStdString(),
              (shown(QStringLiteral("reversed.json")) + QStringLiteral(": 第一行不是导出的列标题：第1列应为“组数”或“档案号”，实为“Pt闭锁回2-3”")).toStdString());
}

TEST_F(ImportTest, refusesWholeFilesThatAreNoExportAndStoresNothingOfThem)
{
    const std::vector<QStringList> rows = listRows(sim::plausibleRecords(2));
    QByteArray renamed = tsvOf(rows);
    renamed.replace("P20报警回2", "P20报警回二");
    write(QStringLiteral("renamed.tsv"), renamed);
    write(QStringLiteral("empty.tsv"), QByteArray());
    write(QStringLiteral("noise.json"), "[1, 2");
    write(QStringLiteral("fake.xls"), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(600, 'x'));
    write(QStringLiteral("fake.xlsx"), QByteArray("PK\x03\x04", 4) + QByteArray(600, 'x'));
    QJsonArray sheet{QJsonArray{QStringLiteral("a"), QStringLiteral("b")}};
    writeForeignWorkbook(QStringLiteral("header.xlsx"), sheet);
    const struct {
        QString name, why;
    } cases[] = {
        {QStringLiteral("renamed.tsv"), QStringLiteral("第一行不是导出的列标题：第16列应为“P20报警回2”，实为“P20报警回二”")},
        {QStringLiteral("empty.tsv"), QStringLiteral("没有列标题行")},
        {QStringLiteral("noise.json"), QStringLiteral("不是导出的TSV或JSON文件")},
        {QStringLiteral("fake.xls"), QStringLiteral("不是可读的.xls工作簿")},
        {QStringLiteral("fake.xlsx"), QStringLiteral("不是可读的.xlsx工作簿")},
        {QStringLiteral("header.xlsx"), QStringLiteral("第一行不是导出的列标题：第1列应为“组数”或“档案号”，实为“a”")},
    };
    for (const auto& c : cases) {
        const FileImport f = importFile(*archive, path(c.name));
        EXPECT_EQ(f.outcome, FileImport::NotAnExport) << c.name.toStdString();
        EXPECT_EQ(f.failure.toStdString(), (shown(c.name) + QStringLiteral(": ") + c.why).toStdString());
    }
    const FileImport missing = importFile(*archive, path(QStringLiteral("missing.tsv")));
    EXPECT_EQ(missing.outcome, FileImport::NotAnExport);
    EXPECT_TRUE(missing.failure.startsWith(shown(QStringLiteral("missing.tsv")) + QStringLiteral(": 无法打开：")));
    EXPECT_TRUE(archivedRaw().empty());
    auto syncs = listSyncs(*archive);
    ASSERT_TRUE(syncs);
    EXPECT_TRUE(syncs->empty());
}

// An import goes on the audit trail with the file, its SHA-256 and its counts,
// in the same transaction as its records.
TEST_F(ImportTest, anImportIsNotedOnTheAuditTrailWithItsFileAndCounts)
{
    std::vector<QStringList> rows = listRows(sim::plausibleRecords(4));
    rows[1][kColTemperature] = QStringLiteral("abc");
    const QByteArray content = tsvOf(rows);
    write(QStringLiteral("旧 记录.tsv"), content);
    ASSERT_EQ(importFile(*archive, path(QStringLiteral("旧 记录.tsv"))).outcome, FileImport::Imported);
    ASSERT_EQ(importFile(*archive, path(QStringLiteral("旧 记录.tsv"))).outcome, FileImport::Imported);

    std::vector<AuditRow> trail;
    ASSERT_TRUE(forEachAuditRow(*archive, [&](const AuditRow& r) {
        trail.push_back(r);
        return true;
    }));
    ASSERT_EQ(trail.size(), 2u);
    EXPECT_EQ(trail[0].action, audit::kImported);
    EXPECT_EQ(trail[0].object, QStringLiteral("file 旧 记录.tsv"));
    const QJsonObject first = QJsonDocument::fromJson(trail[0].newValues.toUtf8()).object();
    EXPECT_EQ(first[QStringLiteral("sha256")].toString(),
              QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
    EXPECT_EQ(first[QStringLiteral("rows_read")].toInt(), 4);
    EXPECT_EQ(first[QStringLiteral("rows_refused")].toInt(), 1);
    EXPECT_EQ(first[QStringLiteral("new_records")].toInt(), 3);
    const QJsonObject second = QJsonDocument::fromJson(trail[1].newValues.toUtf8()).object();
    EXPECT_EQ(second[QStringLiteral("new_records")].toInt(), 0);
    EXPECT_EQ(second[QStringLiteral("already_archived")].toInt(), 3);
    EXPECT_FALSE(verifyAuditChain(*archive)->firstAltered);

    // A sync from the instrument is no import: no row of its own.
    ASSERT_TRUE(archiveSync(*archive, SyncLog{Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"), 1,
                                              SyncEnd::Complete, sim::plausibleRecords(1, 5)}));
    EXPECT_EQ(verifyAuditChain(*archive)->rows, 2);
}
