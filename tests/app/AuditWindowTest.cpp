// The audit window as a user meets it from 工具 → 审计记录: every change on
// the trail, newest first, nothing editable, and read afresh when opened.
#include "app/TForm1.h"
#include "archive/ArchiveStore.h"
#include "archive/AuditModel.h"
#include "archive/TAuditForm.h"
#include "certificate/Certificate.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "tests/app/WindowDriver.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QPointer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class AuditWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        location = *sf6::ArchiveLocation::parse(dir.filePath(QStringLiteral("archive.sqlite")));
        auto a = sf6::Archive::open(location);
        ASSERT_TRUE(a.ok()) << a.error().toStdString();
        archive = *a;
        auto s = sf6::archiveSync(*archive, sf6::SyncLog{sf6::Archive::now(), QStringLiteral("test"), QStringLiteral("COM3"),
                                                         2, sf6::SyncEnd::Complete, sim::plausibleRecords(2)});
        ASSERT_TRUE(s.ok());
        sf6::RelayEntry e;
        e.serial = QStringLiteral("R1");
        e.name = QStringLiteral("主变A相");
        ASSERT_TRUE(sf6::saveRelay(*archive, e, QStringLiteral("test")));
        ASSERT_TRUE(sf6::linkRecord(*archive, s->recordIds[0], QStringLiteral("R1"), QStringLiteral("test")));
        w = std::make_unique<TForm1>();
        w->setArchiveLocation(location);
    }
    void TearDown() override
    {
        testsupport::deleteTopLevels<TAuditForm>();
        w.reset();
    }
    TAuditForm* openAudit()
    {
        TAuditForm* opened = nullptr;
        // Let go once opened: a later open would otherwise write into this frame after it ended.
        const auto c = QObject::connect(w.get(), &TForm1::auditOpened, [&](TAuditForm* f) { opened = f; });
        w->N21Click();
        QObject::disconnect(c);
        return opened;
    }
    QString cell(TAuditForm* f, int row, int column) const
    {
        return f->Model->data(f->Model->index(row, column)).toString();
    }
    QTemporaryDir dir;
    sf6::ArchiveLocation location;
    std::shared_ptr<sf6::Archive> archive;
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

} // namespace

TEST_F(AuditWindow, theToolsMenuOpensItAfterTheOtherArchiveCommands)
{
    const QList<QAction*> tools = w->N5->actions();
    ASSERT_GT(tools.indexOf(w->N21), tools.indexOf(w->N17));
    EXPECT_EQ(w->N21->text(), QStringLiteral("审计记录(&U)"));
    TAuditForm* f = openAudit();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(f->windowTitle(), QStringLiteral("审计记录"));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(AuditWindow, showsEveryChangeNewestFirstAndAllowsNoEdit)
{
    TAuditForm* f = openAudit();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Model->rowCount(), 2);
    for (int c = 0; c < sf6::AuditModel::kColumns; ++c)
        EXPECT_EQ(f->Model->headerData(c, Qt::Horizontal).toString(), sf6::auditCaptions()[c]);
    EXPECT_EQ(cell(f, 0, sf6::AuditModel::kId), QStringLiteral("2"));
    EXPECT_EQ(cell(f, 0, sf6::AuditModel::kAction), QStringLiteral("关联继电器"));
    EXPECT_EQ(cell(f, 1, sf6::AuditModel::kAction), QStringLiteral("继电器台账"));
    EXPECT_EQ(cell(f, 1, sf6::AuditModel::kObject), QStringLiteral("继电器 R1"));
    EXPECT_TRUE(cell(f, 1, sf6::AuditModel::kOldValues).isEmpty());
    EXPECT_TRUE(cell(f, 1, sf6::AuditModel::kNewValues).contains(QStringLiteral("主变A相")));
    EXPECT_EQ(cell(f, 1, sf6::AuditModel::kAt).size(), 19) << "yyyy-MM-dd HH:mm:ss";
    EXPECT_EQ(f->lbCount->text(), QStringLiteral("共2条审计记录"));

    // Nothing in it can be edited, by a double click or by the model.
    const QModelIndex object = f->Model->index(0, sf6::AuditModel::kObject);
    EXPECT_FALSE(f->Model->flags(object) & Qt::ItemIsEditable);
    EXPECT_EQ(f->AuditGrid->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(f->Model->setData(object, QStringLiteral("x")));
    f->AuditGrid->setCurrentIndex(object);
    QTest::mouseDClick(f->AuditGrid->viewport(), Qt::LeftButton, {}, f->AuditGrid->visualRect(object).center());
    QTest::keyClick(f->AuditGrid, Qt::Key_F2);
    EXPECT_TRUE(f->AuditGrid->findChildren<QLineEdit*>().isEmpty()) << "no editor opened";
    EXPECT_EQ(cell(f, 0, sf6::AuditModel::kObject), QStringLiteral("记录 1"));
}

// A change made after the window was opened shows when it is opened again.
TEST_F(AuditWindow, readsTheTrailAfreshWhenOpened)
{
    TAuditForm* f = openAudit();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->Model->rowCount(), 2);
    ASSERT_EQ(*sf6::unlinkRecords(*archive, {1}, QStringLiteral("test")), 1);
    f->hide();
    f->show();
    ASSERT_EQ(f->Model->rowCount(), 3);
    EXPECT_EQ(cell(f, 0, sf6::AuditModel::kAction), QStringLiteral("取消关联"));
    TAuditForm* again = openAudit();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Model->rowCount(), 3);
}

// Every change the program makes reads in Chinese: the object and each value's
// name; the stored JSON stays as written.
TEST_F(AuditWindow, objectsAndValuesReadInChineseWhileTheStoredJsonStays)
{
    sf6::LabTexts lab;
    lab.name = QStringLiteral("华东电力试验研究院");
    ASSERT_TRUE(sf6::saveLab(*archive, lab).ok());
    sf6::StandardTexts standard;
    standard.name = QStringLiteral("数字压力校验仪");
    standard.validUntil = QStringLiteral("2099-12-31");
    ASSERT_TRUE(sf6::saveStandard(*archive, QStringLiteral("JY-01"), standard).ok());
    sf6::RelayEntry e;
    e.serial = QStringLiteral("R1");
    e.name = QStringLiteral("主变A相");
    e.alarm = sf6::Decimal::parse(QStringLiteral("0.55"));
    ASSERT_TRUE(sf6::saveRelay(*archive, e, QStringLiteral("test")));
    sf6::CertifyRequest request;
    request.recordId = 1;
    request.standardSerial = QStringLiteral("JY-01");
    request.tester = QStringLiteral("张三");
    request.checker = QStringLiteral("李四");
    const auto issued = sf6::certify(*archive, request);
    ASSERT_TRUE(issued.ok()) << issued.error().toStdString();
    const QString number = issued->content.number;
    ASSERT_TRUE(sf6::approve(*archive, number, QStringLiteral("王五")));
    ASSERT_TRUE(sf6::amend(*archive, number, QStringLiteral("湿度有误"), {}).ok());
    ASSERT_TRUE(sf6::storeReport(*archive, 2, {}, QStringLiteral("test")).ok());
    sf6::SyncLog imported{sf6::Archive::now(), QStringLiteral("test"), QStringLiteral("旧数据.xlsx"), 1,
                          sf6::SyncEnd::Complete, sim::plausibleRecords(1, 7)};
    imported.fileSha256 = QString(64, u'a');
    ASSERT_TRUE(sf6::archiveSync(*archive, imported).ok());
    ASSERT_EQ(*sf6::unlinkRecords(*archive, {1}, QStringLiteral("test")), 1);

    TAuditForm* f = openAudit();
    ASSERT_NE(f, nullptr);
    ASSERT_GE(f->Model->rowCount(), 11);
    // A key the program writes that has no Chinese name shows as the key itself.
    static const QRegularExpression englishKey(QStringLiteral("(^|；|\\n)[A-Za-z_0-9]+："));
    static const QRegularExpression englishObject(QStringLiteral("^[a-z]"));
    for (int row = 0; row < f->Model->rowCount(); ++row) {
        SCOPED_TRACE(cell(f, row, sf6::AuditModel::kAction).toStdString());
        EXPECT_FALSE(englishObject.match(cell(f, row, sf6::AuditModel::kObject)).hasMatch())
            << cell(f, row, sf6::AuditModel::kObject).toStdString();
        for (const int c : {int(sf6::AuditModel::kOldValues), int(sf6::AuditModel::kNewValues)})
            for (const int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole)}) {
                const QString text = f->Model->data(f->Model->index(row, c), role).toString();
                EXPECT_FALSE(englishKey.match(text).hasMatch()) << text.toStdString();
            }
    }
    const auto rowOf = [&](const QString& action) {
        for (int row = 0; row < f->Model->rowCount(); ++row)
            if (cell(f, row, sf6::AuditModel::kAction) == action)
                return row;
        return -1;
    };
    const int approved = rowOf(QStringLiteral("批准证书"));
    ASSERT_GE(approved, 0);
    EXPECT_EQ(cell(f, approved, sf6::AuditModel::kObject), QStringLiteral("证书 ") + number);
    EXPECT_TRUE(cell(f, approved, sf6::AuditModel::kNewValues).startsWith(QStringLiteral("批准人：王五；批准时间：")))
        << cell(f, approved, sf6::AuditModel::kNewValues).toStdString();
    EXPECT_TRUE(cell(f, rowOf(QStringLiteral("出具证书")), sf6::AuditModel::kNewValues)
                    .contains(QStringLiteral("实验室信息版本：1")));
    EXPECT_EQ(cell(f, rowOf(QStringLiteral("取消关联")), sf6::AuditModel::kOldValues), QStringLiteral("继电器：R1"));
    EXPECT_EQ(cell(f, rowOf(QStringLiteral("实验室信息")), sf6::AuditModel::kObject), QStringLiteral("实验室信息"));
    EXPECT_EQ(cell(f, rowOf(QStringLiteral("标准器")), sf6::AuditModel::kObject), QStringLiteral("标准器 JY-01"));
    EXPECT_EQ(cell(f, rowOf(QStringLiteral("导入数据")), sf6::AuditModel::kObject), QStringLiteral("文件 旧数据.xlsx"));

    // The stored JSON is the same as before.
    std::vector<sf6::AuditRow> rows;   // oldest first
    ASSERT_TRUE(sf6::forEachAuditRow(*archive, [&rows](const sf6::AuditRow& r) {
        rows.push_back(r);
        return true;
    }));
    ASSERT_EQ(int(rows.size()), f->Model->rowCount());
    const sf6::AuditRow& stored = rows[size_t(f->Model->rowCount() - 1 - approved)];
    EXPECT_TRUE(stored.newValues.contains(QStringLiteral("\"approver\":\"王五\""))) << stored.newValues.toStdString();
    EXPECT_EQ(stored.object, QStringLiteral("certificate ") + number);
}

TEST_F(AuditWindow, aCutTimeOrValueCanBeReadWholeInItsTooltipAndTheDetailPane)
{
    sf6::RelayEntry e;
    e.serial = QStringLiteral("R1");
    e.name = QStringLiteral("主变A相，一个很长很长的名字，长到原值和新值两列都放不下它，只能在别处读全");
    ASSERT_TRUE(sf6::saveRelay(*archive, e, QStringLiteral("test")));
    TAuditForm* f = openAudit();
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f));
    QTableView* grid = f->AuditGrid;
    const QString time = cell(f, 0, sf6::AuditModel::kAt);
    EXPECT_GE(grid->columnWidth(sf6::AuditModel::kAt), grid->fontMetrics().horizontalAdvance(time))
        << "the time fits its column";

    const QModelIndex values = f->Model->index(0, sf6::AuditModel::kNewValues);
    const QString tip = f->Model->data(values, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.split(u'\n').contains(QStringLiteral("名称：") + e.name)) << tip.toStdString();
    EXPECT_GT(grid->fontMetrics().horizontalAdvance(cell(f, 0, sf6::AuditModel::kNewValues)),
              grid->columnWidth(sf6::AuditModel::kNewValues))
        << "the case this is for: a value the column cuts";

    grid->setCurrentIndex(values);
    const QString detail = f->mmDetail->toPlainText();
    EXPECT_TRUE(detail.contains(QStringLiteral("时间：") + time)) << detail.toStdString();
    EXPECT_TRUE(detail.contains(QStringLiteral("对象：继电器 R1")));
    EXPECT_TRUE(detail.contains(QStringLiteral("    名称：") + e.name));
    EXPECT_TRUE(f->mmDetail->isReadOnly());
}
