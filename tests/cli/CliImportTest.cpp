// sf6cli archive import: every export this program writes comes back into an
// empty archive as the same records, and the exit code says how it went.
#include "tests/cli/CliRun.h"

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "sim/Records.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

using clitest::CliRun;
using clitest::sf6cli;

namespace {

std::vector<QByteArray> rawOf(const QString& file)
{
    auto location = sf6::ArchiveLocation::parse(file);
    EXPECT_TRUE(location);
    auto archive = sf6::Archive::open(*location, sf6::Archive::Access::Read);
    EXPECT_TRUE(archive) << archive.error().toStdString();
    if (!archive)
        return {};
    auto list = sf6::listRecords(**archive, {});
    EXPECT_TRUE(list);
    std::vector<QByteArray> out;
    for (const sf6::ArchivedRecord& r : *list)
        out.push_back(r.raw);
    std::sort(out.begin(), out.end());
    return out;
}

// archive list without the archive's own columns (number, time archived), in an order of its own.
QStringList listedRecords(const QString& archive)
{
    const CliRun list = sf6cli({QStringLiteral("archive"), QStringLiteral("list"), QStringLiteral("--tsv"),
                                QStringLiteral("-"), QStringLiteral("--archive"), archive});
    EXPECT_EQ(list.exit, 0) << list.err.toStdString();
    QStringList out;
    for (const QString& line : list.out.split(u'\n', Qt::SkipEmptyParts))
        out << line.section(u'\t', 2);
    out.sort();
    return out;
}

void write(const QString& file, const QByteArray& bytes)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(CliImport, everyExportComesBackIntoAnEmptyArchiveAsTheSameRecords)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.sqlite"));
    auto in = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const CliRun demo = sf6cli({QStringLiteral("demo"), QStringLiteral("--records"), QStringLiteral("25"),
                                QStringLiteral("--tsv"), in("list.tsv"), QStringLiteral("--json"), in("list.json"),
                                QStringLiteral("--xlsx"), in("list.xlsx"), QStringLiteral("--archive"), source});
    ASSERT_EQ(demo.exit, 0) << demo.err.toStdString();
    const QStringList archiveArg{QStringLiteral("--archive"), source};
    ASSERT_EQ(sf6cli(QStringList{QStringLiteral("archive"), QStringLiteral("list"), QStringLiteral("--tsv"), in("history.tsv")} + archiveArg).exit, 0);
    ASSERT_EQ(sf6cli(QStringList{QStringLiteral("archive"), QStringLiteral("list"), QStringLiteral("--json"), in("history.json")} + archiveArg).exit, 0);
    ASSERT_EQ(sf6cli(QStringList{QStringLiteral("archive"), QStringLiteral("export"), QStringLiteral("--xlsx"), in("history.xlsx")} + archiveArg).exit, 0);

    const std::vector<QByteArray> expected = rawOf(source);
    ASSERT_EQ(expected.size(), 25u);
    for (const char* name : {"list.tsv", "list.json", "list.xlsx", "history.tsv", "history.json", "history.xlsx"}) {
        const QString target = dir.filePath(QStringLiteral("from-%1.sqlite").arg(QString::fromLatin1(name)));
        const CliRun imported = sf6cli({QStringLiteral("archive"), QStringLiteral("import"), in(name),
                                        QStringLiteral("--archive"), target});
        EXPECT_EQ(imported.exit, 0) << name << imported.err.toStdString();
        EXPECT_EQ(imported.out.toStdString(), "导入25条新记录，0条已在存档中，0行无法导入\n") << name;
        EXPECT_EQ(rawOf(target), expected) << name;
        EXPECT_EQ(listedRecords(target), listedRecords(source)) << name;
    }
}

TEST(CliImport, exitSaysWhetherRowsOrWholeFilesOrTheArchiveFailed)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("a.sqlite"));
    const QString good = dir.filePath(QStringLiteral("good.tsv"));
    ASSERT_EQ(sf6cli({QStringLiteral("demo"), QStringLiteral("--records"), QStringLiteral("4"), QStringLiteral("--tsv"),
                      good, QStringLiteral("--no-archive")}).exit, 0);
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    QList<QByteArray> fields = lines[2].split('\t');
    fields[2] = "abc";
    lines[2] = fields.join('\t');
    const QString bad = dir.filePath(QStringLiteral("bad.tsv"));
    write(bad, lines.join('\n'));
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    write(notes, "组数\t备注\n1\tx\n");

    auto import = [&](const QStringList& files, const QString& at) {
        return sf6cli(QStringList{QStringLiteral("archive"), QStringLiteral("import")} + files
                      + QStringList{QStringLiteral("--archive"), at});
    };
    const CliRun refused = import({bad}, archive);
    EXPECT_EQ(refused.exit, 8);
    EXPECT_EQ(refused.err.toStdString(), (bad + QStringLiteral(":3: 列“温度”：“abc”不是温度\n")).toStdString());
    EXPECT_EQ(refused.out.toStdString(), "导入3条新记录，0条已在存档中，1行无法导入\n");

    // A file that is no export is refused whole; the others are imported all the same.
    const CliRun mixed = import({notes, good}, archive);
    EXPECT_EQ(mixed.exit, 2);
    EXPECT_TRUE(mixed.err.contains(notes + QStringLiteral(": 第一行不是导出的列标题：第2列应为“时间”，实为“备注”")))
        << mixed.err.toStdString();
    EXPECT_EQ(mixed.out.toStdString(), "导入1条新记录，3条已在存档中，0行无法导入\n");

    const CliRun again = import({good}, archive);
    EXPECT_EQ(again.exit, 0);
    EXPECT_EQ(again.out.toStdString(), "导入0条新记录，4条已在存档中，0行无法导入\n");

    const CliRun syncs = sf6cli({QStringLiteral("archive"), QStringLiteral("syncs"), QStringLiteral("--tsv"),
                                 QStringLiteral("-"), QStringLiteral("--archive"), archive});
    EXPECT_EQ(syncs.out.count(QStringLiteral("\timport\tgood.tsv\t")), 2) << syncs.out.toStdString();
    // The log of the refused import: rows read, records, new, the file's SHA-256, rows refused.
    QFile badFile(bad);
    ASSERT_TRUE(badFile.open(QIODevice::ReadOnly));
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(badFile.readAll(), QCryptographicHash::Sha256).toHex());
    EXPECT_TRUE(syncs.out.contains(QStringLiteral("\timport\tbad.tsv\t完成\t4\t3\t3\t%1\t1\n").arg(sha)))
        << syncs.out.toStdString();

    // Not an archive of this program: nothing can be stored.
    const CliRun noArchive = import({good}, notes);
    EXPECT_EQ(noArchive.exit, 6) << noArchive.err.toStdString();
    EXPECT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("import"), QStringLiteral("--archive"), archive}).exit, 2);
}

// Exported and imported again, records whose acquisition-mode byte is neither
// 0 nor 1 (the list shows them as 手工输入) are known as the records they are.
TEST(CliImport, anExportImportedAgainAddsNothingAndSaysWhichWereKnownByTheirTexts)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("a.sqlite"));
    std::vector<QByteArray> records = sim::plausibleRecords(40, 71);
    for (int i : {2, 5, 11, 17, 23, 29, 37})
        records[size_t(i)][3] = char(2 + i);   // the acquisition-mode byte
    {
        auto opened = sf6::Archive::open(*sf6::ArchiveLocation::parse(archive));
        ASSERT_TRUE(opened) << opened.error().toStdString();
        ASSERT_TRUE(sf6::archiveSync(**opened, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("test"),
                                                            QStringLiteral("COM3"), 40, sf6::SyncEnd::Complete, records}));
    }
    const QString xlsx = dir.filePath(QStringLiteral("history.xlsx"));
    ASSERT_EQ(sf6cli({QStringLiteral("archive"), QStringLiteral("export"), QStringLiteral("--xlsx"), xlsx,
                      QStringLiteral("--archive"), archive}).exit, 0);
    const CliRun imported = sf6cli({QStringLiteral("archive"), QStringLiteral("import"), xlsx,
                                    QStringLiteral("--archive"), archive});
    EXPECT_EQ(imported.exit, 0) << imported.err.toStdString();
    EXPECT_EQ(imported.out.toStdString(), "导入0条新记录，40条已在存档中（其中7条按相同的列表文字认出），0行无法导入\n");
    EXPECT_EQ(rawOf(archive).size(), 40u);
}
