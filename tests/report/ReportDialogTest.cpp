// The report-details dialog and the page window: defaults, the private row
// copy, confirmations that each open their own preview, and the PDF button.
#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "report/TForm3.h"
#include "report/TForm4.h"
#include "tests/report/ReportTestRows.h"

using reporttest::distinctRow;

namespace {

// A closed preview deletes itself, then its page window.
void runDeferredDeletes()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Closes every preview the dialog opened, and the dialog, when the test ends.
struct Dialog {
    Dialog() { QObject::connect(d, &TForm3::pagePreviewed, [this](TForm4* f) { forms.push_back(f); }); }
    ~Dialog()
    {
        for (const QPointer<TForm4>& f : forms)
            if (f)
                f->previewDialog()->close();
        delete d.data();
        runDeferredDeletes();
    }
    TForm3* operator->() const { return d; }
    QPointer<TForm3> d = new TForm3;
    std::vector<QPointer<TForm4>> forms;
};

} // namespace

TEST(ReportDialog, OpensWithDefaultsAndReadOnlyDates)
{
    Dialog d;
    const QString today = QLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
    EXPECT_EQ(d->windowTitle(), QStringLiteral("生成测试报告"));
    EXPECT_EQ(d->size(), QSize(535, 457));

    const std::tuple<QPlainTextEdit*, QRect, QString> fields[] = {
        {d->mmBbbt, {184, 15, 185, 21}, QStringLiteral("SF6密度继电器校验报告")},
        {d->mmjydw, {120, 63, 353, 21}, QStringLiteral("redidu")},
        {d->mmsjdw, {120, 93, 353, 21}, QStringLiteral("XXX换流站")},
        {d->mmsjrq, {120, 125, 137, 21}, QString()},
        {d->mmdyrq, {328, 125, 145, 21}, today},
        {d->mmjdqmc, {224, 175, 145, 21}, QStringLiteral("1#开关继电器")},
        {d->mmxh, {224, 205, 145, 21}, QStringLiteral("ABB")},
        {d->mmbh, {224, 235, 145, 21}, QStringLiteral("20121212")},
        {d->mmscrq, {224, 265, 145, 21}, today},
        {d->mmjy, {88, 341, 97, 21}, QStringLiteral("张三")},
        {d->mmsh, {232, 341, 97, 21}, QStringLiteral("李四")},
        {d->mmsp, {376, 341, 97, 21}, QStringLiteral("王五")},
    };
    for (const auto& [edit, where, text] : fields) {
        const std::string name = edit->objectName().toStdString();
        EXPECT_EQ(QRect(edit->mapTo(d.d, QPoint()), edit->size()), where) << name;
        EXPECT_EQ(edit->toPlainText(), text) << name;
        const bool date = edit == d->mmsjrq || edit == d->mmdyrq;
        EXPECT_EQ(edit->isReadOnly(), date) << name;
        EXPECT_EQ(edit->isEnabled(), !date) << name;
    }
    EXPECT_EQ(QRect(d->GroupBox2->mapTo(d.d, QPoint()), d->GroupBox2->size()), QRect(56, 160, 417, 153));
    EXPECT_EQ(d->btnConfirm->geometry(), QRect(128, 416, 75, 25));
    EXPECT_EQ(d->btnCancle->geometry(), QRect(304, 416, 75, 25));
    EXPECT_TRUE(d->ListView1->isHidden());
    ASSERT_EQ(d->ListView1->columnCount(), sf6::kColumnCount);
    EXPECT_EQ(d->ListView1->headerItem()->text(51), sf6::columnCaptions()[51]);
}

TEST(ReportDialog, EachConfirmationBuildsItsOwnPageAndPreview)
{
    Dialog d;
    d->show();
    d->loadRow(distinctRow(QStringLiteral("1")));
    EXPECT_EQ(d->mmsjrq->toPlainText(), QStringLiteral("2012-05-18"));
    d->btnConfirm->click();
    d->mmBbbt->setPlainText(QStringLiteral("第二份报告"));
    d->btnConfirm->click();

    ASSERT_EQ(d.forms.size(), size_t(2));
    EXPECT_TRUE(d->isVisible()) << "the dialog stays open after 确定";
    const QStringList titles{QStringLiteral("SF6密度继电器校验报告"), QStringLiteral("第二份报告")};
    for (int i = 0; i < 2; ++i) {
        TForm4* form = d.forms[i];
        EXPECT_FALSE(form->isVisible()) << "the page window itself is never shown";
        EXPECT_EQ(form->QuickRep1.label(QStringLiteral("QRLTitle"))->text, titles[i]);
        EXPECT_TRUE(form->previewDialog()->isVisible());
        EXPECT_EQ(form->previewDialog()->windowTitle(), QStringLiteral("打印预览"));
        EXPECT_EQ(form->previewDialog()->findChild<QPrintPreviewWidget*>()->pageCount(), 1);
    }
    QPrinter& printer = d.forms[0]->printer();
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A4);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Portrait);
    EXPECT_EQ(printer.pageLayout().margins(QPageLayout::Millimeter), QMarginsF(10, 10, 10, 10));
    EXPECT_EQ(printer.copyCount(), 1);
    EXPECT_EQ(printer.printRange(), QPrinter::AllPages);

    // Closing one preview releases its page window and nothing else.
    d.forms[0]->previewDialog()->close();
    runDeferredDeletes();
    EXPECT_TRUE(d.forms[0].isNull());
    ASSERT_FALSE(d.forms[1].isNull());

    // Cancelling the dialog leaves the other preview working on the page it carries.
    d->btnCancle->click();
    runDeferredDeletes();
    EXPECT_TRUE(d.d.isNull()) << "a cancelled dialog is gone for good";
    auto* preview = d.forms[1]->previewDialog()->findChild<QPrintPreviewWidget*>();
    preview->updatePreview();
    EXPECT_EQ(preview->pageCount(), 1);
}

TEST(ReportDialog, DialogsReportOnTheirOwnRowCopiesAndTexts)
{
    Dialog first, second;
    sf6::ListRow rowA = distinctRow(QStringLiteral("3"), QStringLiteral("1"));
    first->loadRow(rowA);
    second->loadRow(distinctRow(QStringLiteral("1"), QStringLiteral("2")));
    second->mmjydw->setPlainText(QStringLiteral("其他单位"));
    rowA[35] = QStringLiteral("changed");   // the caller's row moves on; the copy does not
    first->mmxh->clear();
    first->mmsp->clear();

    first->btnConfirm->click();
    ASSERT_EQ(first.forms.size(), size_t(1));
    const sf6::ReportPage& page = first.forms[0]->QuickRep1;
    auto text = [&](const char* name) { return page.label(QString::fromLatin1(name))->text; };
    EXPECT_EQ(text("QRLabel135"), QStringLiteral("35.245"));
    EXPECT_EQ(text("QRLabel137"), QStringLiteral("37.259")) << "count 3 fills trial 3";
    EXPECT_EQ(text("QRLabel93"), QStringLiteral("1#开关继电器；型号：；编号：20121212；生产日期：") + first->mmscrq->toPlainText());
    const char* names[] = {"QRLabel91", "QRLabel92", "QRLabel94", "QRLabel96", "QRLabel97", "QRjy", "QRsh", "QRsp"};
    const QStringList expected{QStringLiteral("redidu"), QStringLiteral("XXX换流站"), QStringLiteral("2012-05-18"),
                               QStringLiteral("22.5°C"), QStringLiteral("系统采集"), QStringLiteral("张三"),
                               QStringLiteral("李四"), QString()};
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(text(names[i]), expected[i]) << names[i];
    EXPECT_EQ(text("QRLabel95"), first->mmdyrq->toPlainText());
    EXPECT_TRUE(second.forms.empty());
}

TEST(ReportDialog, PdfButtonWritesTheChosenFile)
{
    QTemporaryDir dir;
    Dialog d;
    d->loadRow(distinctRow(QStringLiteral("3"), QStringLiteral("7")));
    ui::MessageRecorder messages;
    {
        ui::SaveAnswer answer(dir.filePath(QStringLiteral("report")));   // no suffix typed
        d->btnPdf->click();
        ASSERT_EQ(answer.requests.size(), size_t(1));
        EXPECT_EQ(QFileInfo(answer.requests[0].initialName).fileName(), QStringLiteral("2012-05-18_7.pdf"));
        EXPECT_EQ(answer.requests[0].filter, QStringLiteral("PDF文件(*.pdf)"));
    }
    QFile pdf(dir.filePath(QStringLiteral("report.pdf")));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_EQ(pdf.read(5), QByteArray("%PDF-"));
    EXPECT_TRUE(messages.messages.empty());
    {
        ui::SaveAnswer cancel{QString()};   // the next dialog starts in the folder just used
        d->btnPdf->click();
        ASSERT_EQ(cancel.requests.size(), size_t(1));
        EXPECT_EQ(cancel.requests[0].initialName, dir.filePath(QStringLiteral("2012-05-18_7.pdf")));
    }
    {
        ui::SaveAnswer answer(dir.filePath(QStringLiteral("no/such/dir/x.pdf")));
        d->btnPdf->click();
    }
    ASSERT_EQ(messages.messages.size(), size_t(1));
    EXPECT_TRUE(messages.messages[0].text.startsWith(QStringLiteral("导出PDF失败")));
}

TEST(ReportDialog, PreviewOpensLargeEnoughToReadAPage)
{
    Dialog d;
    d->loadRow(distinctRow(QStringLiteral("3")));
    d->btnConfirm->click();
    ASSERT_EQ(d.forms.size(), size_t(1));
    QPrintPreviewDialog* preview = d.forms[0]->previewDialog();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_GE(preview->width(), screen.width() * 0.8);
    EXPECT_GE(preview->height(), screen.height() * 0.8);
    EXPECT_EQ(preview->findChild<QPrintPreviewWidget*>()->zoomMode(), QPrintPreviewWidget::FitToWidth);
}
