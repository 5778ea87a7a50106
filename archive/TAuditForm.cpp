#include "archive/TAuditForm.h"

#include "archive/ArchiveWindows.h"
#include "archive/AuditModel.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{1100, 600};
constexpr int kValuesColumnWidth = 260;
constexpr int kCellPadding = 16;
constexpr int kDetailLines = 7;
const QString kLongestTime = QStringLiteral("0000-00-00 00:00:00");
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
    AuditGrid->horizontalHeader()->setStretchLastSection(true);

    connect(AuditGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TAuditForm::AuditGridCurrentChanged);

    mmDetail = new QPlainTextEdit(this);
    mmDetail->setObjectName(QStringLiteral("mmDetail"));
    mmDetail->setReadOnly(true);
    mmDetail->setFixedHeight(mmDetail->fontMetrics().lineSpacing() * kDetailLines + kCellPadding);

    lbCount = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(AuditGrid, 1);
    layout->addWidget(mmDetail);
    layout->addWidget(lbCount);
}

void TAuditForm::sizeColumns()
{
    // The whole time, in whatever font the system gives.
    AuditGrid->setColumnWidth(sf6::AuditModel::kAt, AuditGrid->fontMetrics().horizontalAdvance(kLongestTime) + kCellPadding);
    AuditGrid->setColumnWidth(sf6::AuditModel::kOldValues, kValuesColumnWidth);
    AuditGrid->setColumnWidth(sf6::AuditModel::kNewValues, kValuesColumnWidth);
}

void TAuditForm::AuditGridCurrentChanged()
{
    const int row = AuditGrid->currentIndex().row();
    if (row < 0) {
        mmDetail->clear();
        return;
    }
    QStringList lines;
    for (int c = 0; c < sf6::AuditModel::kColumns; ++c) {
        const QString text = Model->data(Model->index(row, c), Qt::ToolTipRole).toString();
        if (text.isEmpty())
            continue;
        const QString caption = Model->headerData(c, Qt::Horizontal).toString();
        // Values one to a line under their caption; every other field on its own line.
        lines << (text.contains(u'\n') ? QStringLiteral("%1：\n    %2").arg(caption, QString(text).replace(u'\n', QStringLiteral("\n    ")))
                                        : QStringLiteral("%1：%2").arg(caption, text));
    }
    mmDetail->setPlainText(lines.join(u'\n'));
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
        mmDetail->clear();
        ui::MessageBoxes::show(s.message(), this);
        return;
    }
    sizeColumns();   // a new query resets them
    AuditGridCurrentChanged();
    auto total = archive_->run(QStringLiteral("SELECT COUNT(*) FROM audit"), {}, QStringLiteral("读取审计记录"));
    lbCount->setText(total && total->next() ? QStringLiteral("共%1条审计记录").arg(total->value(0).toInt()) : QString());
}
