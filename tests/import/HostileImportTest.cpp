// Files made to hurt the import: cells and lines longer than any export,
// workbooks whose shared strings or texts would fill the memory, files cut
// short or changed after they were written, and things that are no file.
// Each is refused by its position or as a whole, saying why, and nothing of
// it is kept beyond what a good file would cost.
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "export/Workbook.h"
#include "import/Import.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#ifndef _WIN32
#include <csignal>
#include <sys/stat.h>
#endif
#ifdef SF6_TEST_ZIP_WRITER
#include <zip.h>
#endif

using namespace sf6;
using namespace sf6::import;

namespace {

const auto* bytes(const QByteArray& a) { return reinterpret_cast<const unsigned char*>(a.constData()); }

std::vector<QStringList> listRows(const std::vector<QByteArray>& records)
{
    std::vector<QStringList> rows;
    for (size_t i = 0; i < records.size(); ++i)
        rows.push_back(decodeRecord(bytes(records[i]), int(i) + 1));
    return rows;
}

// A JSON string as sf6cli writes it: one caption ends in a double quote.
QByteArray jsonText(const QString& s)
{
    return QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

QByteArray tsvOf(const std::vector<QStringList>& rows)
{
    QByteArray out = columnCaptions().join(u'\t').toUtf8() + '\n';
    for (const QStringList& r : rows)
        out += r.join(u'\t').toUtf8() + '\n';
    return out;
}

class HostileImport : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto location = ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        ASSERT_TRUE(location);
        auto opened = Archive::open(*location);
        ASSERT_TRUE(opened) << opened.error().toStdString();
        archive = *opened;
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString shown(const QString& name) const { return QDir::toNativeSeparators(path(name)); }
    void write(const QString& name, const QByteArray& content) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(content), content.size());
    }
    FileImport import(const QString& name) const { return importFile(*archive, path(name)); }
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
    // Every message a user reads names a place and quotes little.
    static void expectShort(const QStringList& messages)
    {
        for (const QString& m : messages)
            EXPECT_LT(m.size(), 400) << m.left(400).toStdString();
    }

    QTemporaryDir dir;
    std::shared_ptr<Archive> archive;
};

std::vector<QByteArray> sorted(std::vector<QByteArray> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST_F(HostileImport, cellsAndLinesLongerThanAnyExportAreRefusedByPlaceAndQuotedInPart)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(4, 31);
    std::vector<QStringList> rows = listRows(records);
    rows[1][kColTime] = QString(1000, u'x');                 // a cell, row 3
    rows[2][kColTemperature] = QString(2 << 20, u'9');       // a line of 2 MB, row 4
    write(QStringLiteral("long.tsv"), tsvOf(rows));
    const FileImport t = import(QStringLiteral("long.tsv"));
    ASSERT_EQ(t.outcome, FileImport::Imported) << t.failure.toStdString();
    EXPECT_EQ(t.rowsRead, 4);
    EXPECT_EQ(t.newRecords, 2);
    ASSERT_EQ(t.refusedRows.size(), 2);
    EXPECT_EQ(t.refusedRows[0].toStdString(),
              (shown(QStringLiteral("long.tsv")) + QStringLiteral(":3: 列“时间”：“") + QString(32, u'x')
               + QStringLiteral("…”长于256个字符，不是导出的值")).toStdString());
    EXPECT_EQ(t.refusedRows[1].toStdString(),
              (shown(QStringLiteral("long.tsv")) + QStringLiteral(":4: 行长于65536字节，不是导出的行")).toStdString());
    EXPECT_EQ(archivedRaw(), sorted({records[0], records[3]}));

    // JSON: a value of 2 MB, a key of 1 MB, and a number of 1 MB digits.
    QByteArray json = "[\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        QByteArray object = "{";
        for (int c = 0; c < kColumnCount; ++c) {
            QByteArray value = jsonText(listRows(records)[i][c]);
            if (i == 1 && c == kColMode)
                value = "\"" + QByteArray(2 << 20, 'y') + "\"";
            if (i == 2 && c == kFirstValueColumn)
                value = QByteArray(1 << 20, '7');
            object += (c ? ", " : "") + jsonText(columnCaptions()[c]) + ": " + value;
        }
        if (i == 3)
            object += ", \"" + QByteArray(1 << 20, 'k') + "\": 1";
        json += object + (i + 1 < rows.size() ? "},\n" : "}\n");
    }
    write(QStringLiteral("long.json"), json + "]\n");
    const FileImport j = import(QStringLiteral("long.json"));
    ASSERT_EQ(j.outcome, FileImport::Imported) << j.failure.toStdString();
    ASSERT_EQ(j.refusedRows.size(), 3);
    EXPECT_TRUE(j.refusedRows[0].endsWith(QStringLiteral(":3: 列“采集方式”：“") + QString(32, u'y')
                                          + QStringLiteral("…”长于256个字符，不是导出的值")))
        << j.refusedRows[0].left(400).toStdString();
    EXPECT_TRUE(j.refusedRows[1].endsWith(QStringLiteral("…”长于256个字符，不是导出的值"))) << j.refusedRows[1].left(400).toStdString();
    EXPECT_TRUE(j.refusedRows[2].endsWith(QStringLiteral(":5: 第54列“") + QString(32, u'k') + QStringLiteral("…”多余")))
        << j.refusedRows[2].left(400).toStdString();
    expectShort(j.refusedRows);

    // A header no export has, however long, is quoted in part.
    write(QStringLiteral("header.tsv"), QByteArray(100000, 'h') + "\tx\n");
    const FileImport h = import(QStringLiteral("header.tsv"));
    EXPECT_EQ(h.outcome, FileImport::NotAnExport);
    EXPECT_EQ(h.failure.toStdString(), (shown(QStringLiteral("header.tsv"))
                                        + QStringLiteral(": 第一行长于65536字节，不是导出的列标题")).toStdString());
    write(QStringLiteral("header2.tsv"), QByteArray(60000, 'h') + "\tx\n");
    EXPECT_EQ(import(QStringLiteral("header2.tsv")).failure.toStdString(),
              (shown(QStringLiteral("header2.tsv")) + QStringLiteral(": 第一行不是导出的列标题：第1列应为“组数”或“档案号”，实为“")
               + QString(32, u'h') + QStringLiteral("…”")).toStdString());
}

// A file of nothing but bad rows lists the first thousand and counts the rest;
// more rows than any export holds refuse the file.
TEST_F(HostileImport, refusedRowsAreListedToAThousandAndRowsAreBounded)
{
    QByteArray tsv = columnCaptions().join(u'\t').toUtf8() + '\n';
    for (int i = 0; i < 1500; ++i)
        tsv += "1\t2\n";
    write(QStringLiteral("bad.tsv"), tsv);
    const FileImport bad = import(QStringLiteral("bad.tsv"));
    ASSERT_EQ(bad.outcome, FileImport::Imported);
    EXPECT_EQ(bad.rowsRefused, 1500);
    ASSERT_EQ(bad.refusedRows.size(), kMaxListedRefusals + 1);
    EXPECT_EQ(bad.refusedRows.last().toStdString(),
              (shown(QStringLiteral("bad.tsv")) + QStringLiteral(": 另有500行无法导入，未逐一列出")).toStdString());
    EXPECT_EQ(importSummary({bad}).toStdString(), "导入0条新记录，0条已在存档中，1500行无法导入");

    QByteArray many = columnCaptions().join(u'\t').toUtf8() + '\n';
    many.reserve(many.size() + 2 * 500001);
    for (int i = 0; i < 500001; ++i)
        many += "1\n";
    write(QStringLiteral("many.tsv"), many);
    const FileImport m = import(QStringLiteral("many.tsv"));
    EXPECT_EQ(m.outcome, FileImport::NotAnExport);
    EXPECT_EQ(m.failure.toStdString(), (shown(QStringLiteral("many.tsv")) + QStringLiteral(": 多于500000行，超出导出的行数")).toStdString());
    EXPECT_TRUE(m.refusedRows.isEmpty());
    EXPECT_TRUE(archivedRaw().empty());
}

// A file still being written or partly copied ends inside its last row: that
// row is refused by name, so the complete file later adds it once, right.
TEST_F(HostileImport, aFileCutInsideItsLastRowRefusesThatRowAndTheWholeFileLaterAddsItOnce)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(3, 41);
    const QByteArray full = tsvOf(listRows(records));
    QByteArray cut = full.chopped(2);   // "…0.855\n" -> "…0.85"
    write(QStringLiteral("cut.tsv"), cut);
    const FileImport c = import(QStringLiteral("cut.tsv"));
    ASSERT_EQ(c.outcome, FileImport::Imported) << c.failure.toStdString();
    EXPECT_EQ(c.newRecords, 2);
    ASSERT_EQ(c.refusedRows.size(), 1);
    EXPECT_EQ(c.refusedRows[0].toStdString(),
              (shown(QStringLiteral("cut.tsv"))
               + QStringLiteral(":4: 最后一行没有行尾：文件不完整（也许仍在写入或未复制完），这一行未导入")).toStdString());
    // Whole but for its line end: still not proven complete.
    write(QStringLiteral("noend.tsv"), full.chopped(1));
    EXPECT_EQ(import(QStringLiteral("noend.tsv")).rowsRefused, 1);
    write(QStringLiteral("full.tsv"), full);
    const FileImport f = import(QStringLiteral("full.tsv"));
    EXPECT_EQ(f.newRecords, 1);
    EXPECT_EQ(f.alreadyArchived, 2);
    EXPECT_EQ(archivedRaw(), sorted(records));

    // JSON: cut inside its last object, or after it without the closing "]".
    QByteArray json = "[\n";
    const std::vector<QByteArray> more = sim::plausibleRecords(3, 43);
    const std::vector<QStringList> rows = listRows(more);
    for (size_t i = 0; i < rows.size(); ++i) {
        QByteArray object = "  {";
        for (int col = 0; col < kColumnCount; ++col)
            object += (col ? ", " : "") + jsonText(columnCaptions()[col]) + ": " + jsonText(rows[i][col]);
        json += object + "}" + (i + 1 < rows.size() ? ",\n" : "\n");
    }
    const qsizetype lastObjectEnd = json.lastIndexOf('}') + 1;
    write(QStringLiteral("cut.json"), json.left(lastObjectEnd - 5));
    write(QStringLiteral("open.json"), json.left(lastObjectEnd));
    for (const QString& name : {QStringLiteral("cut.json"), QStringLiteral("open.json")}) {
        const FileImport j = import(name);
        ASSERT_EQ(j.outcome, FileImport::Imported) << name.toStdString() << j.failure.toStdString();
        ASSERT_EQ(j.refusedRows.size(), 1) << name.toStdString();
        EXPECT_TRUE(j.refusedRows[0].endsWith(QStringLiteral(":4: 最后一行不完整：文件不完整（也许仍在写入或未复制完），这一行未导入")))
            << j.refusedRows[0].toStdString();
    }
    write(QStringLiteral("whole.json"), json + "]\n");
    EXPECT_EQ(import(QStringLiteral("whole.json")).newRecords, 1);
    std::vector<QByteArray> all = records;
    all.insert(all.end(), more.begin(), more.end());
    EXPECT_EQ(archivedRaw(), sorted(all));
}

TEST_F(HostileImport, aFolderIsRefusedBeforeItIsRead)
{
    const FileImport f = importFile(*archive, dir.path());
    EXPECT_EQ(f.outcome, FileImport::NotAnExport);
    EXPECT_EQ(f.failure.toStdString(),
              (QDir::toNativeSeparators(dir.path()) + QStringLiteral(": 不是普通文件（设备、文件夹等），不能导入")).toStdString());
}

#ifndef _WIN32
// What is not a file is refused before it is read; a FIFO is read once, to its end.
TEST_F(HostileImport, devicesAreRefusedAndAFifoIsReadOnce)
{
    for (const char* device : {"/dev/zero", "/dev/urandom"}) {
        const auto started = std::chrono::steady_clock::now();
        const FileImport f = importFile(*archive, QString::fromLatin1(device));
        EXPECT_EQ(f.outcome, FileImport::NotAnExport) << device;
        EXPECT_EQ(f.failure.toStdString(), std::string(device) + ": 不是普通文件（设备、文件夹等），不能导入");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << device;
    }

    std::signal(SIGPIPE, SIG_IGN);   // the writers below may outlive the reading
    const std::vector<QByteArray> records = sim::plausibleRecords(5, 47);
    const QByteArray tsv = tsvOf(listRows(records));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("fed.tsv"))).constData(), 0600), 0);
    std::thread feeder([&] {
        QFile fifo(path(QStringLiteral("fed.tsv")));
        if (fifo.open(QIODevice::WriteOnly))
            fifo.write(tsv);
    });
    const FileImport fed = import(QStringLiteral("fed.tsv"));
    feeder.join();
    ASSERT_EQ(fed.outcome, FileImport::Imported) << fed.failure.toStdString();
    EXPECT_EQ(fed.newRecords, 5);
    EXPECT_EQ(archivedRaw(), sorted(records));
    auto syncs = listSyncs(*archive);
    ASSERT_TRUE(syncs);
    ASSERT_EQ(syncs->size(), 1u);
    EXPECT_EQ(syncs->front().fileSha256,
              QString::fromLatin1(QCryptographicHash::hash(tsv, QCryptographicHash::Sha256).toHex()));

    // A FIFO that never ends: its first line is too long to be a header.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("zeros"))).constData(), 0600), 0);
    std::thread zeros([&] {
        QFile fifo(path(QStringLiteral("zeros")));
        if (!fifo.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(1 << 16, '\0');
        while (fifo.write(block) == block.size()) {
        }
    });
    const FileImport endless = import(QStringLiteral("zeros"));
    zeros.join();
    EXPECT_EQ(endless.outcome, FileImport::NotAnExport);
    EXPECT_TRUE(endless.failure.endsWith(QStringLiteral("第一行长于65536字节，不是导出的列标题"))) << endless.failure.toStdString();
}
#endif

namespace {

#ifdef SF6_TEST_ZIP_WRITER
// A workbook of the given parts, as another program could write it.
void writeZip(const QString& file, const std::vector<std::pair<const char*, QByteArray>>& parts)
{
    zipFile zip = zipOpen64(QFile::encodeName(file).constData(), APPEND_STATUS_CREATE);
    ASSERT_TRUE(zip);
    for (const auto& [name, content] : parts) {
        zip_fileinfo info{};
        ASSERT_EQ(zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1, 1), ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, content.constData(), unsigned(content.size())), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

const QByteArray kWorkbookXml = R"(<?xml version="1.0"?><workbook xmlns:r="r"><sheets><sheet name="s" sheetId="1" r:id="rId1"/></sheets></workbook>)";
const QByteArray kRelsXml = R"(<?xml version="1.0"?><Relationships>)"
                            R"(<Relationship Id="rId1" Type="x/worksheet" Target="worksheets/sheet1.xml"/>)"
                            R"(<Relationship Id="rId2" Type="x/sharedStrings" Target="sharedStrings.xml"/></Relationships>)";

// The sheet of the list's captions and rows, each time cell the shared string 0.
QByteArray sheetXml(const std::vector<QStringList>& rows, bool timeShared)
{
    QByteArray xml = R"(<?xml version="1.0"?><worksheet><sheetData>)";
    std::vector<QStringList> all{columnCaptions()};
    all.insert(all.end(), rows.begin(), rows.end());
    for (size_t r = 0; r < all.size(); ++r) {
        xml += "<row>";
        for (qsizetype c = 0; c < all[r].size(); ++c) {
            if (r > 0 && c == kColTime && timeShared)
                xml += R"(<c t="s"><v>0</v></c>)";
            else
                xml += R"(<c t="inlineStr"><is><t>)" + all[r][c].toUtf8() + "</t></is></c>";
        }
        xml += "</row>";
    }
    return xml + "</sheetData></worksheet>";
}

QByteArray sharedXml(int count, const QByteArray& text)
{
    QByteArray xml = R"(<?xml version="1.0"?><sst>)";
    xml.reserve(xml.size() + count * (text.size() + 20));
    for (int i = 0; i < count; ++i)
        xml += "<si><t>" + text + "</t></si>";
    return xml + "</sst>";
}

#endif

// The CRC-32 of a member, in its local header and in the central directory, made to disagree with its bytes.
void spoilCrc(QByteArray& zip, const QByteArray& member)
{
    auto flip = [&](qsizetype at) { zip[at] = char(zip[at] ^ 0x01); };
    int changed = 0;
    for (qsizetype at = zip.indexOf("PK\x03\x04"); at >= 0; at = zip.indexOf("PK\x03\x04", at + 4))
        if (zip.mid(at + 30, member.size()) == member)
            flip(at + 14), ++changed;
    for (qsizetype at = zip.indexOf("PK\x01\x02"); at >= 0; at = zip.indexOf("PK\x01\x02", at + 4))
        if (zip.mid(at + 46, member.size()) == member)
            flip(at + 16), ++changed;
    ASSERT_EQ(changed, 2);
}

} // namespace

#ifdef SF6_TEST_ZIP_WRITER
// A workbook is small on disk and large inside: the shared strings and the
// texts it unpacks to are bounded, and what is too much is refused whole.
TEST_F(HostileImport, workbooksThatUnpackBeyondAnyExportAreRefusedSayingWhy)
{
    const std::vector<QByteArray> records = sim::plausibleRecords(200, 53);
    const std::vector<QStringList> rows = listRows(records);
    // One shared string of 300,000 characters fills the time column of 200 rows.
    writeZip(path(QStringLiteral("long.xlsx")), {{"xl/workbook.xml", kWorkbookXml},
                                                  {"xl/_rels/workbook.xml.rels", kRelsXml},
                                                  {"xl/sharedStrings.xml", sharedXml(1, QByteArray(300000, 't'))},
                                                  {"xl/worksheets/sheet1.xml", sheetXml(rows, true)}});
    const FileImport l = import(QStringLiteral("long.xlsx"));
    ASSERT_EQ(l.outcome, FileImport::Imported) << l.failure.toStdString();
    EXPECT_EQ(l.rowsRefused, 200);
    ASSERT_FALSE(l.refusedRows.isEmpty());
    EXPECT_EQ(l.refusedRows[0].toStdString(), (shown(QStringLiteral("long.xlsx")) + QStringLiteral(":2: 列“时间”：“")
                                               + QString(32, u't') + QStringLiteral("…”长于256个字符，不是导出的值")).toStdString());
    expectShort(l.refusedRows);

    const struct {
        const char* name;
        QByteArray shared;
        QByteArray sheet;
        QString why;
    } cases[] = {
        {"count.xlsx", sharedXml(1000001, ""), sheetXml(rows, false),
         QStringLiteral("工作簿的共享文字多于1000000条或共多于16000000个字符，不是导出的工作簿")},
        {"size.xlsx", sharedXml(62600, QByteArray(256, 's')), sheetXml(rows, false),
         QStringLiteral("工作簿的共享文字多于1000000条或共多于16000000个字符，不是导出的工作簿")},
        {"run.xlsx", sharedXml(1, QByteArray(5 << 20, 'r')), sheetXml(rows, false),
         QStringLiteral("工作簿中有一段长于4 MB的文字，不是导出的工作簿")},
        {"doctype.xlsx", "<!DOCTYPE sst [<!ENTITY a \"aaaa\">]>" + sharedXml(1, "&a;"), sheetXml(rows, false),
         QStringLiteral("工作簿中有DTD、注释或CDATA段，不是导出的工作簿")},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.name);
        writeZip(path(name), {{"xl/workbook.xml", kWorkbookXml},
                              {"xl/_rels/workbook.xml.rels", kRelsXml},
                              {"xl/sharedStrings.xml", c.shared},
                              {"xl/worksheets/sheet1.xml", c.sheet}});
        const FileImport f = import(name);
        EXPECT_EQ(f.outcome, FileImport::NotAnExport) << c.name;
        EXPECT_EQ(f.failure.toStdString(), (shown(name) + QStringLiteral(": ") + c.why).toStdString());
    }
    EXPECT_TRUE(archivedRaw().empty());
}
#endif

// A workbook whose member fails its CRC holds bytes changed after they were
// written: it is refused whole, whichever member it is.
TEST_F(HostileImport, aWorkbookMemberThatFailsItsCrcRefusesTheWholeWorkbook)
{
    const std::vector<QStringList> rows = listRows(sim::plausibleRecords(5, 59));
    ASSERT_TRUE(writeWorkbook(listWorkbook(rows), path(QStringLiteral("good.xlsx"))));
    QFile good(path(QStringLiteral("good.xlsx")));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray zip = good.readAll();
    good.close();
    for (const char* member : {"xl/worksheets/sheet1.xml", "xl/styles.xml"}) {
        QByteArray spoilt = zip;
        spoilCrc(spoilt, member);
        write(QStringLiteral("spoilt.xlsx"), spoilt);
        const FileImport f = import(QStringLiteral("spoilt.xlsx"));
        EXPECT_EQ(f.outcome, FileImport::NotAnExport) << member;
        EXPECT_EQ(f.failure.toStdString(), (shown(QStringLiteral("spoilt.xlsx")) + QStringLiteral(": 工作簿已损坏：")
                                            + QString::fromLatin1(member) + QStringLiteral("的校验和不符，整个文件未导入")).toStdString());
    }
    EXPECT_TRUE(archivedRaw().empty());
    EXPECT_EQ(import(QStringLiteral("good.xlsx")).newRecords, 5);
}
