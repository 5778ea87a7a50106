#include "archive/TAuditForm.h"

#include "archive/ArchiveWindows.h"
#include "archive/AuditModel.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QHeaderView>
#include <QLabel>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{1100, 600};
constexpr int kTimeColumnWidth = 140;
constexpr int kValuesColumnWidth = 260;
} // namespace

TAuditForm* TAuditForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent, sf6::Archive::Access::Read);
    return archive ? new TAuditForm(std::move(archive), parent) : nullptr;
}

TAuditForm::TAuditForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive))
{
    setObjectName(QStringLiteral("AuditForm"));
    setWindowTitle(QStringLiteral("审计记录"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    Model = new sf6::AuditModel(*archive_, this);
    AuditGrid = new QTableView(this);
    AuditGrid->setObjectName(QStringLiteral("AuditGrid"));
    AuditGrid->setModel(Model);
    AuditGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    AuditGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AuditGrid->verticalHeader()->hide();
    AuditGrid->verticalHeader()->setDefaultSectionSize(AuditGrid->fontMetrics().height() + 4);
    AuditGrid->setWordWrap(false);
    AuditGrid->setColumnWidth(sf6::AuditModel::kAt, kTimeColumnWidth);
    AuditGrid->setColumnWidth(sf6::AuditModel::kOldValues, kValuesColumnWidth);
    AuditGrid->setColumnWidth(sf6::AuditModel::kNewValues, kValuesColumnWidth);
    AuditGrid->horizontalHeader()->setStretchLastSection(true);

    lbCount = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(AuditGrid, 1);
    layout->addWidget(lbCount);
}

void TAuditForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TAuditForm::FormShow()
{
    if (const sf6::Status s = Model->refresh(); !s) {
        lbCount->clear();
        ui::MessageBoxes::show(s.message(), this);
        return;
    }
    auto total = archive_->run(QStringLiteral("SELECT COUNT(*) FROM audit"), {}, QStringLiteral("读取审计记录"));
    lbCount->setText(total && total->next() ? QStringLiteral("共%1条审计记录").arg(total->value(0).toInt()) : QString());
}
