// 工具 → 导入数据… as the window's user meets it: the files chosen in one
// dialog, imported, and one summary whose details name every refused row.
#include "app/TForm1.h"
#include "archive/ArchiveStore.h"
#include "import/TImportDialog.h"
#include "sim/Records.h"
#include "sync/TestRecord.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ImportWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        w = std::make_unique<TForm1>();
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

} // namespace

TEST_F(ImportWindow, importsEveryChosenFileAndListsEachRefusedRowInTheDetails)
{
    const QList<QAction*> tools = w->N5->actions();
    ASSERT_EQ(tools.indexOf(w->N17), tools.indexOf(w->N16) + 1);
    EXPECT_EQ(w->N17->text(), QStringLiteral("导入数据(&I)…"));
    w->N6Click();   // in every state, like the history and the register
    EXPECT_TRUE(w->N17->isEnabled());
    w->Timer1->stop();
    w->setArchiveLocation(location);

    QByteArray tsv = sf6::columnCaptions().join(u'\t').toUtf8() + '\n';
    const std::vector<QByteArray> records = sim::plausibleRecords(3);
    for (size_t i = 0; i < records.size(); ++i) {
        sf6::ListRow row = sf6::decodeRecord(reinterpret_cast<const unsigned char*>(records[i].constData()), int(i) + 1);
        if (i == 1)
            row[sf6::kColMode] = QStringLiteral("自动");
        tsv += row.join(u'\t').toUtf8() + '\n';
    }
    const QString good = write(QStringLiteral("old.tsv"), tsv);
    const QString notes = write(QStringLiteral("notes.json"), "{}");

    {
        ui::OpenAnswer answer({good, notes});
        w->N17Click();
        ASSERT_EQ(answer.requests.size(), 1u);
        EXPECT_EQ(answer.requests[0].filter, QStringLiteral("工作簿 (*.xls *.xlsx);;文本 (*.tsv *.txt);;JSON (*.json)"));
    }
    // Files are named as the system writes them (C:\... on Windows).
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text.toStdString(),
              ("导入2条新记录，0条已在存档中，1行无法导入\n未导入的文件：\n" + QDir::toNativeSeparators(notes) + ": 第一行不是导出的列标题：第1列应为“组数”或“档案号”，实为“{}”").toStdString());
    EXPECT_EQ(messages.messages[0].details.toStdString(),
              (QDir::toNativeSeparators(good) + ":3: 列“采集方式”：“自动”不是“系统采集”或“手工输入”").toStdString());
    auto count = sf6::countRecords(*w->archive(), {});
    ASSERT_TRUE(count);
    EXPECT_EQ(*count, 2);

    // Nothing chosen: nothing said, nothing stored.
    ui::OpenAnswer cancelled({});
    w->N17Click();
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST_F(ImportWindow, withoutAnArchiveTheUserIsToldAndNoDialogOpens)
{
    w->setArchiveLocation(*sf6::ArchiveLocation::choose(std::nullopt, true));
    ui::OpenAnswer answer({});
    w->N17Click();
    EXPECT_TRUE(answer.requests.empty());
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_EQ(messages.texts()[0].toStdString(), "存档未启用（--no-archive），无处导入。");
}
