// The main window as a user sees it after losing the instrument, ending an
// empty sync, exporting, and at a glance: what trying it turned up.
#include "app/TForm1.h"
#include "export/ListView2Excel.h"
#include "sim/Records.h"
#include "tests/app/InstrumentFixture.h"
#include "tests/app/WindowDriver.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "view/SidePanel.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using sf6::Command;
using sf6::CommandState;

namespace {

class Window : public testsupport::InstrumentFixture {
protected:
    void SetUp() override { w = std::make_unique<TForm1>(); }
    void TearDown() override
    {
        w.reset();
        InstrumentFixture::TearDown();
    }
    testsupport::Instrument* connectToSim(const sim::SyncScript& script)
    {
        auto* s = startInstrument();
        s->setSyncScript(script);
        testsupport::connectThroughScan(*w);
        EXPECT_EQ(w->commandState(), CommandState::Online);
        return s;
    }
    static sim::SyncScript reply(int records)
    {
        sim::SyncScript s;
        s.reply = sim::makeSyncReply(sim::plausibleRecords(records));
        s.bytesPerSecond = 0;
        return s;
    }
    std::unique_ptr<TForm1> w;
    ui::MessageRecorder messages;
};

#ifdef SF6_HAVE_SIM
bool hasLatinLetters(const QString& s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80 && c.isLetter(); });
}
#endif

} // namespace

#ifdef SF6_HAVE_SIM
// An instrument lost: the simulator on a pseudo-terminal only.

// Unplugged mid-sync: a reason in Chinese, the port kind gone as after a
// disconnect, the count of what came kept, and the last record shown.
TEST_F(Window, instrumentLostMidSync_saysWhyInChineseAndKeepsWhatCame)
{
    sim::SyncScript script = reply(3);
    script.stopAfter = 120;
    script.hangUpAtEnd = true;
    script.hangUpDelay = 300ms;
    connectToSim(script);
    ASSERT_FALSE(w->panelText(2).isEmpty());
    w->N8Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->commandState() != CommandState::Syncing; }, 5000));
    ASSERT_EQ(messages.messages.size(), 1u);
    const QString text = messages.messages[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("连接已断开！"))) << text.toStdString();
    EXPECT_GT(text.size(), QStringLiteral("连接已断开！").size()) << "the reason follows";
    EXPECT_FALSE(hasLatinLetters(text.section(u'（', 0, 0))) << "a raw system error: " << text.toStdString();
    EXPECT_EQ(w->panelText(1), QStringLiteral("连接已断开！"));
    EXPECT_TRUE(w->panelText(2).isEmpty());
    EXPECT_EQ(w->panelText(3), QStringLiteral("共有3条数据，当前加载1条  "));
    EXPECT_EQ(w->Panel1->valueText(1), w->ListView1->topLevelItem(0)->text(1));
}

TEST_F(Window, instrumentLostWhileOnline_clearsThePortKind)
{
    auto* s = connectToSim(reply(2));
    w->N8Click();
    ASSERT_EQ(w->commandState(), CommandState::SyncDone);
    const QString count = w->panelText(3);
    s->hangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->Connected == 0; }, 3000));
    EXPECT_TRUE(w->panelText(2).isEmpty());
    EXPECT_EQ(w->panelText(3), count);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_FALSE(hasLatinLetters(messages.messages[0].text.section(u'（', 0, 0)));
}

#endif

// An empty sync shows its message while the commands are still off; they come
// back once the user has read it.
TEST_F(Window, emptySync_showsTheMessageBeforeEnablingCommands)
{
    connectToSim(reply(0));
    bool syncEnabledAtMessage = true;
    ui::MessageBoxes::setHandler([&](const ui::Message&) { syncEnabledAtMessage = w->N8->isEnabled(); });
    w->N8Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->commandState() == CommandState::SyncEmpty; }, 5000));
    ui::MessageBoxes::setHandler([](const ui::Message&) {});
    EXPECT_FALSE(syncEnabledAtMessage);
    EXPECT_TRUE(w->N8->isEnabled());
}

// The list shows the window's font, and the workbook of the list carries it.
TEST_F(Window, listAndWorkbookUseTheWindowFont)
{
    EXPECT_EQ(w->ListView1->font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(w->ListView1->font().pointSizeF(), 8.0);
    w->Sync.loop().start();
    w->Sync.loop().poll(sim::makeSyncReply(sim::plausibleRecords(2)));
    w->AddDBGridClick();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("list.xlsx"));
    sf6::ListView2Excel(w->ListView1, file);
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(SF6_EXPORT_READER), file});
    ASSERT_TRUE(reader.waitForFinished(60000));
    const QJsonObject sheet = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    const QJsonObject font = sheet[QStringLiteral("columns")][0][QStringLiteral("font")].toObject();
    EXPECT_EQ(font[QStringLiteral("name")].toString(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(font[QStringLiteral("sz")].toDouble(), 8.0);
}

// Save, print and preview dialogs are Qt's own: they speak Chinese too.
TEST_F(Window, standardDialogsAreChinese)
{
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    EXPECT_TRUE(app->chineseDialogs()) << "qt6-translations-l10n missing";
    QFileDialog save(nullptr, QString(), QString(), QStringLiteral("EXCEL文件(*.xlsx)"));
    save.setOption(QFileDialog::DontUseNativeDialog);
    save.setAcceptMode(QFileDialog::AcceptSave);
    QStringList buttons;
    for (const QPushButton* b : save.findChild<QDialogButtonBox*>()->findChildren<QPushButton*>())
        buttons << b->text().remove(u'&');
    EXPECT_TRUE(buttons.contains(QStringLiteral("保存")) || buttons.contains(QStringLiteral("保存(S)")))
        << buttons.join(u',').toStdString();
    EXPECT_TRUE(std::any_of(buttons.begin(), buttons.end(), [](const QString& t) { return t.startsWith(u"取消"); }))
        << buttons.join(u',').toStdString();
}

// At a glance: the window's outer size, the indicator's circle, a toolbar that
// shows its buttons whole, and disabled buttons that look disabled.
TEST_F(Window, windowToolbarAndIndicatorLookAsDesigned)
{
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_EQ(w->frameGeometry().size(), QSize(928, 654));

    for (QAction* a : {w->ToolButton1, w->ToolButton2, w->ToolButton3, w->ToolButton4}) {
        const QWidget* b = w->ToolBar1->widgetForAction(a);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->size(), QSize(55, 52));
        EXPECT_TRUE(w->ToolBar1->rect().contains(b->geometry())) << "cut off: " << a->text().toStdString();
    }
    // A disabled command shows its image greyed, as every toolbar does.
    ASSERT_FALSE(w->ToolButton2->isEnabled());
    const QImage grey = w->ToolButton2->icon().pixmap(32, QIcon::Disabled).toImage();
    const QImage colour = w->ToolButton2->icon().pixmap(32, QIcon::Normal).toImage();
    int coloured = 0, greyed = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const QColor c = colour.pixelColor(x, y), g = grey.pixelColor(x, y);
            coloured += c.alpha() > 0 && c.hsvSaturation() > 60;
            greyed += g.alpha() > 0 && g.hsvSaturation() > 60;
        }
    EXPECT_GT(coloured, 50);
    EXPECT_EQ(greyed, 0);

    // A 15 x 15 circle in a panel without bevel.
    QWidget* indicator = w->StatusBar1->panel(0);
    QImage shot(indicator->size(), QImage::Format_RGB32);
    shot.fill(Qt::white);
    indicator->render(&shot);
    int top = -1, bottom = -1, left = 99, right = -1;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (QColor(shot.pixel(x, y)).red() > 200 && QColor(shot.pixel(x, y)).green() < 100) {
                top = top < 0 ? y : top;
                bottom = y;
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_EQ(bottom - top + 1, 15);
    EXPECT_EQ(right - left + 1, 15);
    EXPECT_EQ(qobject_cast<QFrame*>(indicator), nullptr) << "the indicator's panel has no bevel";
}

#ifndef _WIN32
// Runs the Linux window program.

// Started from a terminal without XDG_RUNTIME_DIR, the window program says
// nothing of Qt's on standard error; the developers' channel still has it.
TEST(WindowProgram, QtsOwnWarningsStayOffStandardError)
{
    auto run = [](bool developer) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("SF6_QT_MESSAGES"));
        if (developer)
            env.insert(QStringLiteral("SF6_QT_MESSAGES"), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(SF6COMPANION_PATH), {QStringLiteral("--help")});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0);
        return QString::fromLocal8Bit(p.readAllStandardError());
    };
    EXPECT_EQ(run(false), QString());
    EXPECT_TRUE(run(true).contains(QStringLiteral("XDG_RUNTIME_DIR")));
}
#endif
