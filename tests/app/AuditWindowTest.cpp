// The audit window as a user meets it from 工具 → 审计记录: every change on
// the trail, newest first, nothing editable, and read afresh when opened.
#include "app/TForm1.h"
#include "archive/ArchiveStore.h"
#include "archive/AuditModel.h"
#include "archive/TAuditForm.h"
#include "register/RelayRegister.h"
#include "sim/Records.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
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
        std::vector<QPointer<QWidget>> windows;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<TAuditForm*>(top))
                windows.emplace_back(top);
        for (const QPointer<QWidget>& top : windows)
            delete top.data();
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
    EXPECT_EQ(cell(f, 1, sf6::AuditModel::kObject), QStringLiteral("relay R1"));
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
    EXPECT_EQ(cell(f, 0, sf6::AuditModel::kObject), QStringLiteral("record 1"));
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
