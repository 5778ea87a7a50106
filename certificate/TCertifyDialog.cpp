#include "certificate/TCertifyDialog.h"

#include "archive/RecordSource.h"
#include "archive/THistoryForm.h"
#include "certificate/CertificateActions.h"
#include "certificate/CertificatePrint.h"
#include "certificate/People.h"
#include "register/RelayRegister.h"
#include "sync/Columns.h"
#include "ui/Choices.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {
constexpr int kLabelWidth = 520;
const QString kNone = QStringLiteral("无");

QString joined(const QStringList& parts)
{
    QStringList kept;
    for (const QString& p : parts)
        if (!p.trimmed().isEmpty())
            kept << p.trimmed();
    return kept.join(QStringLiteral("  "));
}

QString timeOf(const sf6::ArchivedRecord& r) { return r.row().value(sf6::kColTime); }
} // namespace

TCertifyDialog::TCertifyDialog(sf6::Archive& archive, const sf6::ArchivedRecord& record, QWidget* parent)
    : QDialog(parent), archive_(archive), recordId_(record.id)
{
    build();
    setWindowTitle(QStringLiteral("出具证书"));
    // Only an amendment has a reason.
    if (auto* form = qobject_cast<QFormLayout*>(edReason->parentWidget()->layout()))
        form->setRowVisible(edReason, false);
    showSources(record);
    fillStandards(QString());
    // The lab signs as it last did on a report.
    if (const auto last = sf6::startingDetails(archive_, sf6::ReportDetails{})) {
        edTester->setText(last->tester);
        edChecker->setText(last->reviewer);
        edApprover->setText(last->approver);
    }
}

TCertifyDialog::TCertifyDialog(sf6::Archive& archive, const sf6::StoredCertificate& replaced, QWidget* parent)
    : QDialog(parent), archive_(archive), recordId_(replaced.content.asLeft.recordId), replaced_(replaced.content.number)
{
    build();
    setWindowTitle(QStringLiteral("替代证书 %1").arg(replaced_));
    sf6::ArchivedRecord record;
    record.id = recordId_;
    record.raw = replaced.content.asLeft.raw;
    if (const auto found = sf6::findRecord(archive_, recordId_); found && *found)
        record = **found;
    showSources(record);
    fillStandards(replaced.content.standard.serial);
    if (replaced.content.asFound) {
        // The old choice stays selectable even when the links have moved since.
        const int id = replaced.content.asFound->recordId;
        if (std::find(asFoundIds_.begin(), asFoundIds_.end(), id) == asFoundIds_.end()) {
            asFoundIds_.push_back(id);
            cbAsFound->addItem(QStringLiteral("档案号 %1").arg(id));
        }
        cbAsFound->setCurrentIndex(int(std::find(asFoundIds_.begin(), asFoundIds_.end(), id) - asFoundIds_.begin()) + 1);
    }
    edHumidity->setText(replaced.content.humidity);
    edTester->setText(replaced.content.tester);
    edChecker->setText(replaced.content.checker);
    edApprover->setText(replaced.content.approver);
    edReason->setFocus();
}

void TCertifyDialog::build()
{
    setObjectName(QStringLiteral("CertifyDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());

    auto label = [this](const QString& name) {
        auto* l = new QLabel(this);
        l->setObjectName(name);
        l->setWordWrap(true);
        l->setMinimumWidth(kLabelWidth);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    lbLab = label(QStringLiteral("lbLab"));
    lbRelay = label(QStringLiteral("lbRelay"));
    lbRecord = label(QStringLiteral("lbRecord"));
    lbNumber = label(QStringLiteral("lbNumber"));

    auto* sources = new QGroupBox(QStringLiteral("出具依据"), this);
    auto* sourceForm = new QFormLayout(sources);
    sourceForm->addRow(QStringLiteral("实验室"), lbLab);
    sourceForm->addRow(QStringLiteral("继电器"), lbRelay);
    sourceForm->addRow(QStringLiteral("记录"), lbRecord);

    auto* choices = new QGroupBox(QStringLiteral("本次校验"), this);
    auto* form = new QFormLayout(choices);
    cbStandard = new QComboBox(choices);
    cbStandard->setObjectName(QStringLiteral("cbStandard"));
    form->addRow(QStringLiteral("标准器"), cbStandard);
    auto field = [&](const QString& caption, const QString& name, const QString& tip = {}) {
        auto* e = new QLineEdit(choices);
        e->setObjectName(name);
        e->setPlaceholderText(tip);
        form->addRow(caption, e);
        return e;
    };
    edHumidity = field(QStringLiteral("相对湿度（%RH）"), QStringLiteral("edHumidity"), QStringLiteral("例如 55"));
    edTester = field(QStringLiteral("校验员"), QStringLiteral("edTester"));
    edChecker = field(QStringLiteral("核验员"), QStringLiteral("edChecker"), QStringLiteral("不能与校验员相同"));
    edTesterPassword = field(QStringLiteral("校验员的密码"), QStringLiteral("edTesterPassword"));
    edCheckerPassword = field(QStringLiteral("核验员的密码"), QStringLiteral("edCheckerPassword"));
    const auto signing = sf6::signaturesRequired(archive_);
    for (QLineEdit* e : {edTesterPassword, edCheckerPassword}) {
        e->setEchoMode(QLineEdit::Password);
        form->setRowVisible(e, signing && *signing);
    }
    edApprover = field(QStringLiteral("批准人"), QStringLiteral("edApprover"), QStringLiteral("可在批准时填写"));
    cbAsFound = new QComboBox(choices);
    cbAsFound->setObjectName(QStringLiteral("cbAsFound"));
    form->addRow(QStringLiteral("调整前记录"), cbAsFound);
    edReason = field(QStringLiteral("替代原因"), QStringLiteral("edReason"));

    btnOK = new QPushButton(QStringLiteral("确定"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnSavePdf = new QPushButton(QStringLiteral("保存PDF…"), this);
    btnSavePdf->setObjectName(QStringLiteral("btnSavePdf"));
    btnPreview = new QPushButton(QStringLiteral("预览/打印"), this);
    btnPreview->setObjectName(QStringLiteral("btnPreview"));
    btnCancel = new QPushButton(QStringLiteral("取消"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnSavePdf->setEnabled(false);
    btnPreview->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lbNumber, 1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnSavePdf);
    buttons->addWidget(btnPreview);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sources);
    layout->addWidget(choices);
    layout->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &TCertifyDialog::btnOKClick);
    connect(btnSavePdf, &QPushButton::clicked, this, &TCertifyDialog::btnSavePdfClick);
    connect(btnPreview, &QPushButton::clicked, this, &TCertifyDialog::btnPreviewClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TCertifyDialog::showSources(const sf6::ArchivedRecord& record)
{
    const auto lab = sf6::currentLab(archive_);
    if (!lab)
        lbLab->setText(lab.error());
    else if (!*lab || (*lab)->name.trimmed().isEmpty())
        lbLab->setText(QStringLiteral("尚未填写实验室信息（工具 → 实验室信息）"));
    else
        lbLab->setText(joined({(*lab)->name, (*lab)->address, (*lab)->phone, (*lab)->accreditation,
                               QStringLiteral("证书编号前缀 %1").arg((*lab)->prefix)}));

    const sf6::ListRow row = record.row();
    testDate_ = sf6::testDateOfRow(row);
    lbRecord->setText(joined({QStringLiteral("档案号 %1").arg(record.id), row.value(sf6::kColTime),
                              row.value(sf6::kColTemperature)}));

    const auto serial = sf6::linkedSerial(archive_, record.id);
    std::optional<sf6::RelayEntry> relay;
    if (serial && *serial) {
        if (const auto found = sf6::findRelay(archive_, **serial); found && *found)
            relay = **found;
    }
    if (!relay) {
        // Nothing to judge the record against: it cannot be certified.
        lbRelay->setText(serial ? QStringLiteral("该记录未关联继电器，不能出具证书（请先在历史记录中关联继电器）")
                                : serial.error());
        btnOK->setEnabled(false);
        cbAsFound->addItem(kNone);
        return;
    }
    lbRelay->setText(joined({QStringLiteral("编号 %1").arg(relay->serial), relay->name, relay->model, relay->client,
                             QStringLiteral("准确度等级 %1").arg(relay->classText()),
                             QStringLiteral("第%1版").arg(relay->version)}));
    fillAsFound(record, relay->serial, std::nullopt);
}

void TCertifyDialog::fillStandards(const QString& chosen)
{
    cbStandard->clear();
    standardSerials_.clear();
    const auto standards = sf6::listStandards(archive_);
    if (!standards) {
        ui::MessageBoxes::show(standards.error(), this);
        return;
    }
    // Marked against the record's test date, the day the standard had to be valid.
    const QDate tested = QDate::fromString(testDate_, QStringLiteral("yyyy-MM-dd"));
    for (const sf6::ReferenceStandard& s : *standards) {
        const QDate until = QDate::fromString(s.validUntil, Qt::ISODate);
        QString text = joined({s.serial, s.name, s.model,
                               s.validUntil.isEmpty() ? QString() : QStringLiteral("有效期至 %1").arg(s.validUntil)});
        if (until.isValid() && tested.isValid() && until < tested)
            text += QStringLiteral("（已过期）");
        cbStandard->addItem(text);
        standardSerials_.push_back(s.serial);
    }
    const auto at = std::find(standardSerials_.begin(), standardSerials_.end(), chosen);
    if (at != standardSerials_.end())
        cbStandard->setCurrentIndex(int(at - standardSerials_.begin()));
}

void TCertifyDialog::fillAsFound(const sf6::ArchivedRecord& record, const QString& serial, std::optional<int> chosen)
{
    cbAsFound->clear();
    asFoundIds_.clear();
    cbAsFound->addItem(kNone);
    // The relay's records now: every record ever linked to it that still is.
    const auto changes = sf6::linkChanges(archive_, serial);
    if (!changes)
        return;
    std::set<int> ids;
    for (const sf6::LinkChange& c : *changes)
        if (c.recordId != record.id)
            ids.insert(c.recordId);
    sf6::ArchiveFilter filter;
    for (int id : ids)
        if (const auto linked = sf6::linkedSerial(archive_, id); linked && *linked && **linked == serial)
            filter.ids.push_back(id);
    if (filter.ids.empty())
        return;
    const auto records = sf6::listRecords(archive_, filter);
    if (!records)
        return;
    const QString time = timeOf(record);
    for (const sf6::ArchivedRecord& r : *records) {
        // Only a test before this one can be the test before adjustment.
        const QString t = timeOf(r);
        if (t > time || (t == time && r.id > record.id))
            continue;
        asFoundIds_.push_back(r.id);
        cbAsFound->addItem(joined({QStringLiteral("档案号 %1").arg(r.id), t}));
        if (chosen == r.id)
            cbAsFound->setCurrentIndex(cbAsFound->count() - 1);
    }
}

sf6::CertifyRequest TCertifyDialog::request() const
{
    sf6::CertifyRequest r;
    r.recordId = recordId_;
    const int standard = cbStandard->currentIndex();
    if (standard >= 0 && standard < int(standardSerials_.size()))
        r.standardSerial = standardSerials_[size_t(standard)];
    r.humidity = edHumidity->text().trimmed();
    r.tester = edTester->text().trimmed();
    r.checker = edChecker->text().trimmed();
    r.testerPassword = edTesterPassword->text();
    r.checkerPassword = edCheckerPassword->text();
    r.approver = edApprover->text().trimmed();
    const int asFound = cbAsFound->currentIndex() - 1;   // item 0 is 无
    if (asFound >= 0 && asFound < int(asFoundIds_.size()))
        r.asFoundRecordId = asFoundIds_[size_t(asFound)];
    return r;
}

bool TCertifyDialog::confirmImported(const sf6::CertifyRequest& rq)
{
    for (const std::optional<int> id : {std::optional<int>(rq.recordId), rq.asFoundRecordId}) {
        if (!id)
            continue;
        const auto source = sf6::recordSource(archive_, *id);
        if (!source || !*source || !(*source)->imported)
            continue;
        if (ui::Choices::choose({QStringLiteral("导入的数据"),
                                 QStringLiteral("记录 %1 的数据来自导入的文件 %2，不是从校验仪同步的。确认数据无误，仍要出具证书吗？")
                                     .arg(*id)
                                     .arg((*source)->file),
                                 {}},
                                this)
            != 0)
            return false;
    }
    return true;
}

void TCertifyDialog::btnOKClick()
{
    if (issued_)
        return;   // one certificate per dialog
    sf6::CertifyRequest rq = request();
    const sf6::CertificateActions& act = sf6::certificateActions();
    auto make = [&] {
        return replaced_.isEmpty() ? act.issue(archive_, rq) : act.amend(archive_, replaced_, edReason->text(), rq);
    };
    sf6::Expected<sf6::IssuedCertificate> made = make();
    // What needs the user's word is asked, then the same request is made again.
    for (;;) {
        if (made.code() == sf6::ErrorCode::P20Unconfirmed && !rq.acceptP20) {
            // A record whose P20 disagrees with the SF6 equation is certified only when the user says so.
            if (ui::Choices::choose({QStringLiteral("P20换算核查"), made.error() + QStringLiteral("。仍要出具证书吗？"), {}}, this) != 0)
                return;
            rq.acceptP20 = true;
        } else if (made.code() == sf6::ErrorCode::ImportedUnconfirmed && !rq.acceptImported) {
            // So is a record whose readings came from an imported file, not the instrument.
            if (!confirmImported(rq))
                return;
            rq.acceptImported = true;
        } else {
            break;
        }
        made = make();
    }
    if (!made) {
        ui::MessageBoxes::show(made.error(), this);
        return;
    }
    issued_ = std::move(*made);
    lbNumber->setText(QStringLiteral("证书编号：%1").arg(issued_->content.number));
    for (QWidget* w : std::initializer_list<QWidget*>{cbStandard, edHumidity, edTester, edChecker, edApprover,
                                                      cbAsFound, edReason, btnOK})
        w->setEnabled(false);
    // Nothing of a password stays in the window once it has signed.
    for (QLineEdit* e : {edTesterPassword, edCheckerPassword}) {
        e->clear();
        e->setEnabled(false);
    }
    btnSavePdf->setEnabled(true);
    btnPreview->setEnabled(true);
    btnCancel->setText(QStringLiteral("关闭"));
    emit issued(issued_->content.number);
}

namespace {
// The certificate as stored now: its pages say whether it is approved or replaced.
std::optional<sf6::StoredCertificate> stored(const sf6::Archive& archive, const QString& number, QWidget* parent)
{
    const auto found = sf6::findCertificate(archive, number);
    if (!found || !*found) {
        ui::MessageBoxes::show(found ? QStringLiteral("存档中没有证书 %1。").arg(number) : found.error(), parent);
        return std::nullopt;
    }
    return **found;
}
} // namespace

void TCertifyDialog::btnSavePdfClick()
{
    if (!issued_)
        return;
    sf6::saveCertificatePdf(archive_, issued_->content.number, this);
}

void TCertifyDialog::btnPreviewClick()
{
    if (!issued_)
        return;
    if (const auto c = stored(archive_, issued_->content.number, this))
        sf6::previewCertificate(archive_, *c, this);
}

void TCertifyDialog::addCommandTo(THistoryForm* history)
{
    history->addCommand(kCommandCaption, [history](const std::vector<sf6::ArchivedRecord>& records) {
        if (records.size() != 1) {
            ui::MessageBoxes::show(QStringLiteral("一份证书针对一条记录，请只选择一条记录。"), history);
            return;
        }
        auto* dialog = new TCertifyDialog(history->archive(), records.front(), history);
        // Issuing judges the record: its verdict in the list may have changed.
        QObject::connect(dialog, &TCertifyDialog::issued, history, &THistoryForm::refresh);
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    });
}
