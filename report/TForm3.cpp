#include "report/TForm3.h"

#include "base/Clock.h"
#include <QDate>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTextDocument>
#include <QTreeWidget>

#include <chrono>
#include <memory>

#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"
#include "report/ReportRenderer.h"
#include "report/TForm4.h"

namespace {

constexpr QSize kClientSize{535, 457};
constexpr int kFieldHeight = 21;
constexpr int kCaptionGap = 6;            // between a caption's right edge and its field
constexpr qreal kFieldTextMargin = 1.0;   // a 21-pixel box leaves no room for more
constexpr QRect kOuterFrame{24, 48, 481, 345};
constexpr QRect kRelayFrame{56, 160, 417, 153};
constexpr QSize kButtonSize{75, 25};
constexpr QPoint kConfirmPos{128, 416};
constexpr QPoint kPdfPos{216, 416};
constexpr QPoint kCancelPos{304, 416};
constexpr QPoint kRelayButtonPos{378, 175};
constexpr QSize kRelayButtonSize{86, 21};
constexpr std::chrono::milliseconds kProgressDelay{500};   // a short batch shows no progress window

} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("生成测试报告"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientSize);
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    today_ = QLocale().toString(sf6::Clock::today(), QLocale::ShortFormat);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(kOuterFrame);
    GroupBox2 = new QGroupBox(QStringLiteral("继电器信息"), GroupBox1);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(kRelayFrame.translated(-kOuterFrame.topLeft()));

    mmBbbt = addField(this, QStringLiteral("报表标题"), 184, 15, 185);
    mmjydw = addField(GroupBox1, QStringLiteral("校验单位"), 120, 63, 353);
    mmsjdw = addField(GroupBox1, QStringLiteral("送检单位"), 120, 93, 353);
    mmsjrq = addField(GroupBox1, QStringLiteral("校验日期"), 120, 125, 137);
    mmdyrq = addField(GroupBox1, QStringLiteral("打印日期"), 328, 125, 145);
    mmjdqmc = addField(GroupBox2, QStringLiteral("继电器名称"), 224, 175, 145);
    mmxh = addField(GroupBox2, QStringLiteral("型号"), 224, 205, 145);
    mmbh = addField(GroupBox2, QStringLiteral("编号"), 224, 235, 145);
    mmscrq = addField(GroupBox2, QStringLiteral("生产日期"), 224, 265, 145);
    mmjy = addField(GroupBox1, QStringLiteral("校验"), 88, 341, 97);
    mmsh = addField(GroupBox1, QStringLiteral("审核"), 232, 341, 97);
    mmsp = addField(GroupBox1, QStringLiteral("审批"), 376, 341, 97);
    const std::pair<QPlainTextEdit*, const char*> names[] = {
        {mmBbbt, "mmBbbt"}, {mmjydw, "mmjydw"}, {mmsjdw, "mmsjdw"}, {mmsjrq, "mmsjrq"},
        {mmdyrq, "mmdyrq"}, {mmjdqmc, "mmjdqmc"}, {mmxh, "mmxh"}, {mmbh, "mmbh"},
        {mmscrq, "mmscrq"}, {mmjy, "mmjy"}, {mmsh, "mmsh"}, {mmsp, "mmsp"}};
    for (const auto& [field, name] : names)
        field->setObjectName(QLatin1String(name));
    // The dates come from the record and the clock, not from the user.
    for (QPlainTextEdit* date : {mmsjrq, mmdyrq}) {
        date->setReadOnly(true);
        date->setEnabled(false);
    }

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setColumnCount(sf6::kColumnCount);
    ListView1->setHeaderLabels(sf6::columnCaptions());
    ListView1->setRootIsDecorated(false);
    ListView1->hide();

    auto button = [this](const QString& text, const char* name, QPoint pos) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(QRect(pos, kButtonSize));
        b->setAutoDefault(false);
        return b;
    };
    btnConfirm = button(QStringLiteral("确定"), "btnConfirm", kConfirmPos);
    btnPdf = button(QStringLiteral("导出PDF"), "btnPdf", kPdfPos);
    btnCancle = button(QStringLiteral("取消"), "btnCancle", kCancelPos);
    // Beside the relay fields, shown where a register is at hand.
    btnRelay = new QPushButton(QStringLiteral("从台账选择"), GroupBox2);
    btnRelay->setObjectName(QStringLiteral("btnRelay"));
    btnRelay->setGeometry(QRect(kRelayButtonPos - kRelayFrame.topLeft(), kRelayButtonSize));
    btnRelay->setAutoDefault(false);
    btnRelay->hide();
    connect(btnRelay, &QPushButton::clicked, this, &TForm3::btnRelayClick);
    connect(mmbh, &QPlainTextEdit::textChanged, this, &TForm3::mmbhChange);
    connect(btnConfirm, &QPushButton::clicked, this, &TForm3::btnConfirmClick);
    connect(btnPdf, &QPushButton::clicked, this, &TForm3::btnPdfClick);
    connect(btnCancle, &QPushButton::clicked, this, &TForm3::btnCancleClick);

    FormCreate();
    detailsGiven_ = false;
}

QPlainTextEdit* TForm3::addField(QWidget* frame, const QString& caption, int left, int top, int width)
{
    // Positions are given in the dialog's client area; the frames are nested.
    const QPoint offset = frame == this ? QPoint() : frame->mapTo(this, QPoint());
    const QRect box = QRect(left, top, width, kFieldHeight).translated(-offset);

    auto* field = new QPlainTextEdit(frame);
    field->setGeometry(box);
    field->setTabChangesFocus(true);
    field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    field->document()->setDocumentMargin(kFieldTextMargin);

    auto* label = new QLabel(caption, frame);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int w = label->fontMetrics().horizontalAdvance(caption) + 2;
    label->setGeometry(box.left() - kCaptionGap - w, box.top(), w, kFieldHeight);
    label->setBuddy(field);
    return field;
}

void TForm3::FormCreate()
{
    const sf6::ReportDetails d = sf6::defaultReportDetails(today_);
    mmdyrq->setPlainText(d.printDate);
    setDetails(d);
}

void TForm3::loadRow(const sf6::ListRow& row, int recordId)
{
    // Exactly one row: the copy this dialog reports on, whatever the main list does later.
    loadRows({row}, {recordId});
}

void TForm3::loadRows(const std::vector<sf6::ListRow>& rows, const std::vector<int>& recordIds)
{
    mmsjrq->setPlainText(rows.empty() ? QString() : sf6::testDateOfRow(rows.front()));
    ListView1->clear();
    for (const sf6::ListRow& row : rows) {
        auto* item = new QTreeWidgetItem(ListView1);
        for (int c = 0; c < sf6::kColumnCount; ++c)
            item->setText(c, row.value(c));
    }
    recordIds_ = recordIds;
    recordIds_.resize(rows.size(), 0);
}

sf6::ListRow TForm3::rowCopy() const
{
    const std::vector<sf6::ListRow> rows = rowCopies();
    return rows.empty() ? sf6::ListRow(sf6::kColumnCount) : rows.front();
}

std::vector<sf6::ListRow> TForm3::rowCopies() const
{
    std::vector<sf6::ListRow> rows;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        sf6::ListRow row;
        for (int c = 0; c < sf6::kColumnCount; ++c)
            row << ListView1->topLevelItem(i)->text(c);
        rows.push_back(row);
    }
    return rows;
}

void TForm3::mmbhChange()
{
    if (!filling_)
        serialChosen_ = true;
}

void TForm3::setDetails(const sf6::ReportDetails& d)
{
    const QScopedValueRollback<bool> programmatic(filling_, true);
    detailsGiven_ = true;
    mmBbbt->setPlainText(d.title);
    mmjydw->setPlainText(d.calibratingUnit);
    mmsjdw->setPlainText(d.submittingUnit);
    mmjdqmc->setPlainText(d.relayName);
    mmxh->setPlainText(d.model);
    mmbh->setPlainText(d.serialNumber);
    mmscrq->setPlainText(d.productionDate);
    mmjy->setPlainText(d.tester);
    mmsh->setPlainText(d.reviewer);
    mmsp->setPlainText(d.approver);
}

sf6::ReportDetails TForm3::details() const
{
    sf6::ReportDetails d;
    d.title = mmBbbt->toPlainText();
    d.calibratingUnit = mmjydw->toPlainText();
    d.submittingUnit = mmsjdw->toPlainText();
    d.testDate = mmsjrq->toPlainText();
    d.printDate = mmdyrq->toPlainText();
    d.relayName = mmjdqmc->toPlainText();
    d.model = mmxh->toPlainText();
    d.serialNumber = mmbh->toPlainText();
    d.productionDate = mmscrq->toPlainText();
    d.tester = mmjy->toPlainText();
    d.reviewer = mmsh->toPlainText();
    d.approver = mmsp->toPlainText();
    return d;
}

bool TForm3::forEachReport(const QString& doing, const std::function<bool(RecordReport&)>& each)
{
    const std::vector<sf6::ListRow> rows = rowCopies();
    std::unique_ptr<QProgressDialog> progress;
    if (rows.size() > 1) {
        progress = std::make_unique<QProgressDialog>(doing, QStringLiteral("取消"), 0, int(rows.size()), this);
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(int(kProgressDelay.count()));
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (progress) {
            progress->setValue(int(i));
            if (progress->wasCanceled())
                return false;
        }
        RecordReport r;
        r.details = details();
        if (i > 0)
            r.details.testDate = sf6::testDateOfRow(rows[i]);   // each record's own date
        r.recordId = i < recordIds_.size() ? recordIds_[i] : 0;
        r.pages = reportMaker_ ? reportMaker_(r.details, rows[i], r.recordId)
                               : std::vector<sf6::ReportPage>{sf6::buildReportPage(r.details, rows[i])};
        for (const sf6::ReportPage& page : r.pages)
            for (const QString& note : page.notes)
                qWarning("%s", qUtf8Printable(note));
        if (!each(r))
            return false;
    }
    return true;
}

void TForm3::endBatch(bool complete) const
{
    if (batchEnd_)
        batchEnd_(complete);
}

void TForm3::btnConfirmClick()
{
    std::vector<sf6::ReportPage> pages;
    const bool made = forEachReport(QStringLiteral("正在生成报表…"), [&pages](RecordReport& r) {
        std::move(r.pages.begin(), r.pages.end(), std::back_inserter(pages));
        return true;
    });
    endBatch(made);
    if (!made)
        return;
    auto* form = new TForm4(std::move(pages));
    form->preview();
    emit pagePreviewed(form);
}

void TForm3::btnCancleClick() { close(); }

void TForm3::setRelayPicker(RelayPicker p)
{
    relayPicker_ = std::move(p);
    btnRelay->setVisible(bool(relayPicker_));
}

void TForm3::btnRelayClick()
{
    if (!relayPicker_)
        return;
    const std::optional<RelayFields> f = relayPicker_();
    if (!f)
        return;
    fillRelay(*f);
    serialChosen_ = true;
}

void TForm3::setRelayFields(const RelayFields& f) { fillRelay(f); }

void TForm3::fillRelay(const RelayFields& f)
{
    const QScopedValueRollback<bool> programmatic(filling_, true);
    mmjdqmc->setPlainText(f.name);
    mmxh->setPlainText(f.model);
    mmbh->setPlainText(f.serial);
    mmscrq->setPlainText(f.made);
    mmsjdw->setPlainText(f.client);
}

void TForm3::btnPdfClick()
{
    const sf6::ListRow row = rowCopy();
    const ui::SaveRequest request{QStringLiteral("导出PDF"),
                                  sf6::reportPdfFileName(mmsjrq->toPlainText(), row.value(sf6::kColNumber)),
                                  QStringLiteral("PDF文件(*.pdf)")};
    QString name = ui::FileDialogs::saveFileName(request, this);
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".pdf");
    // Each page is written as it is made and let go; the reports are kept only
    // once the file is complete.
    sf6::ReportPdfWriter pdf(name);
    sf6::Status written = sf6::Status::success();
    const bool made = forEachReport(QStringLiteral("正在导出PDF…"), [&pdf, &written](RecordReport& r) {
        for (const sf6::ReportPage& page : r.pages)
            if (written = pdf.addPage(page); !written)
                return false;
        return true;
    });
    if (made)
        written = pdf.commit();
    endBatch(made && written.ok());
    if (!written)
        ui::MessageBoxes::show(QStringLiteral("导出PDF失败！\n") + written.message(), this);
    else if (made)
        ui::SavedFiles::tell(name);
}
