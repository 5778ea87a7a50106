#include "certificate/TCertificatesForm.h"

#include "archive/ArchiveWindows.h"
#include "certificate/CertificateActions.h"
#include "certificate/CertificatePrint.h"
#include "certificate/People.h"
#include "certificate/TCertifyDialog.h"
#include "ui/FileDialogs.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"
#include "ui/TextInputs.h"

#include <QEvent>

#include <algorithm>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{1180, 560};
const QStringList kColumns{QStringLiteral("证书编号"), QStringLiteral("记录"),     QStringLiteral("继电器编号"),
                           QStringLiteral("结论"),     QStringLiteral("出具时间"), QStringLiteral("校验员"),
                           QStringLiteral("核验员"),   QStringLiteral("批准人"),   QStringLiteral("批准时间"),
                           QStringLiteral("状态")};
const QString kSelectCertificate = QStringLiteral("请选择一份证书！");
const QColor kSupersededColour{220, 220, 220};

QString recordsText(const sf6::CertificateListing& c)
{
    // The as-found record, when there is one, before the result it led to.
    return c.asFoundRecordId ? QStringLiteral("%1（调整前 %2）").arg(c.recordId).arg(*c.asFoundRecordId)
                             : QString::number(c.recordId);
}
} // namespace

TCertificatesForm* TCertificatesForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent);
    return archive ? new TCertificatesForm(std::move(archive), parent) : nullptr;
}

TCertificatesForm::TCertificatesForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive))
{
    setObjectName(QStringLiteral("CertificatesForm"));
    setWindowTitle(QStringLiteral("证书"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    CertificateGrid = new QTableWidget(0, int(kColumns.size()), this);
    CertificateGrid->setObjectName(QStringLiteral("CertificateGrid"));
    CertificateGrid->setHorizontalHeaderLabels(kColumns);
    CertificateGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    CertificateGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    CertificateGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    CertificateGrid->verticalHeader()->hide();
    CertificateGrid->horizontalHeader()->setStretchLastSection(true);

    btnApprove = new QPushButton(QStringLiteral("批准"), this);
    btnAmend = new QPushButton(QStringLiteral("替代…"), this);
    btnPreview = new QPushButton(QStringLiteral("预览/打印"), this);
    btnSavePdf = new QPushButton(QStringLiteral("保存PDF"), this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {btnApprove, btnAmend, btnPreview, btnSavePdf})
        buttons->addWidget(b);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CertificateGrid, 1);
    layout->addLayout(buttons);

    connect(btnApprove, &QPushButton::clicked, this, &TCertificatesForm::btnApproveClick);
    connect(btnAmend, &QPushButton::clicked, this, &TCertificatesForm::btnAmendClick);
    connect(btnPreview, &QPushButton::clicked, this, &TCertificatesForm::btnPreviewClick);
    connect(btnSavePdf, &QPushButton::clicked, this, &TCertificatesForm::btnSavePdfClick);
    connect(CertificateGrid, &QTableWidget::itemSelectionChanged, this, &TCertificatesForm::CertificateGridSelect);
    FormCreate();
}

void TCertificatesForm::changeEvent(QEvent* e)
{
    // Certificates issued from the history window meanwhile show up on return.
    // Quietly: a failure told in a box would come back each time the box closes.
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        fill(false);
    QWidget::changeEvent(e);
}

void TCertificatesForm::FormCreate() { fill(true); }

void TCertificatesForm::fill(bool tellFailure)
{
    const QString kept = selectedNumber();
    auto listed = sf6::listCertificates(*archive_);
    if (!listed) {
        if (tellFailure)
            ui::MessageBoxes::show(listed.error(), this);
        return;
    }
    listings_ = std::move(*listed);
    CertificateGrid->setRowCount(int(listings_.size()));
    for (int r = 0; r < int(listings_.size()); ++r) {
        const sf6::CertificateListing& c = listings_[size_t(r)];
        const QString state = sf6::stateText(c.state);
        const QStringList cells{c.number,  recordsText(c), c.relaySerial, c.verdict,    c.issuedAt,
                                c.tester,  c.checker,      c.approver,    c.approvedAt, state};
        for (int col = 0; col < int(cells.size()); ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (state == sf6::kStateSuperseded)
                item->setBackground(kSupersededColour);
            CertificateGrid->setItem(r, col, item);
        }
    }
    CertificateGrid->resizeColumnsToContents();
    if (!kept.isEmpty())
        selectNumber(kept);
    CertificateGridSelect();
}

void TCertificatesForm::CertificateGridSelect()
{
    // Offered only where the core would allow it: approval once, amendment of the current one.
    const QString number = selectedNumber();
    const auto at = std::find_if(listings_.begin(), listings_.end(),
                                 [&](const sf6::CertificateListing& c) { return c.number == number; });
    const QString state = at == listings_.end() ? QString() : sf6::stateText(at->state);
    btnApprove->setEnabled(state == sf6::kStateUnapproved);
    btnAmend->setEnabled(!state.isEmpty() && state != sf6::kStateSuperseded);
    btnPreview->setEnabled(!state.isEmpty());
    btnSavePdf->setEnabled(!state.isEmpty());
}

bool TCertificatesForm::selectNumber(const QString& number)
{
    for (int r = 0; r < CertificateGrid->rowCount(); ++r)
        if (CertificateGrid->item(r, kNumberColumn)->text() == number) {
            CertificateGrid->selectRow(r);
            return true;
        }
    return false;
}

QString TCertificatesForm::selectedNumber() const
{
    const QList<QTableWidgetItem*> items = CertificateGrid->selectedItems();
    for (const QTableWidgetItem* item : items)
        if (item->column() == kNumberColumn)
            return item->text();
    return {};
}

std::optional<sf6::StoredCertificate> TCertificatesForm::selectedCertificate()
{
    const QString number = selectedNumber();
    if (number.isEmpty()) {
        ui::MessageBoxes::show(kSelectCertificate, this);
        return std::nullopt;
    }
    const auto found = sf6::findCertificate(*archive_, number);
    if (!found || !*found) {
        ui::MessageBoxes::show(found ? QStringLiteral("存档中没有证书 %1。").arg(number) : found.error(), this);
        return std::nullopt;
    }
    return **found;
}

void TCertificatesForm::btnApproveClick()
{
    const auto c = selectedCertificate();
    if (!c)
        return;
    const auto approver = ui::TextInputs::ask(
        {QStringLiteral("批准"), QStringLiteral("批准证书 %1 的批准人：").arg(c->content.number), c->content.approver},
        this);
    if (!approver)
        return;
    // A signed archive asks the approver's own password, masked.
    QString password;
    if (const auto signing = sf6::signaturesRequired(*archive_); signing && *signing) {
        const auto typed = ui::TextInputs::ask({QStringLiteral("批准"),
                                                QStringLiteral("%1 的密码：").arg(approver->trimmed()), QString(), true},
                                               this);
        if (!typed)
            return;
        password = *typed;
    }
    if (const sf6::Status s = sf6::certificateActions().approve(*archive_, c->content.number, approver->trimmed(), password);
        !s)
        ui::MessageBoxes::show(s.message(), this);
    FormCreate();
}

void TCertificatesForm::btnAmendClick()
{
    const auto c = selectedCertificate();
    if (!c)
        return;
    auto* dialog = new TCertifyDialog(*archive_, *c, this);
    connect(dialog, &TCertifyDialog::issued, this, [this](const QString& number) {
        FormCreate();
        selectNumber(number);
    });
    dialog->show();
    dialog->raise();
    emit amendmentOpened(dialog);
}

void TCertificatesForm::btnPreviewClick()
{
    if (const auto c = selectedCertificate())
        sf6::previewCertificate(*archive_, *c, this);
}

void TCertificatesForm::btnSavePdfClick()
{
    if (const auto c = selectedCertificate())
        sf6::saveCertificatePdf(*archive_, c->content.number, this);
}
