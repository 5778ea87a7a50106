#include "archive/THistoryForm.h"

#include "archive/ArchiveStore.h"
#include "export/Workbook.h"
#include "report/TForm3.h"
#include "ui/FileDialogs.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"
#include "view/SidePanel.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{1180, 720};
const QDate kNoLimit(1999, 12, 31);   // the date edits' "不限"
const QString kProgram = QStringLiteral("sf6companion");
const QString kSelectRow = QStringLiteral("请选择一行数据！");

QDateEdit* dateEdit(QWidget* parent)
{
    auto* d = new QDateEdit(parent);
    d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    d->setCalendarPopup(true);
    d->setMinimumDate(kNoLimit);
    d->setSpecialValueText(QStringLiteral("不限"));
    d->setDate(kNoLimit);
    return d;
}
} // namespace

THistoryForm* THistoryForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::Archive::open(location);
    if (!archive) {
        ui::MessageBoxes::show(archive.error(), parent);
        return nullptr;
    }
    return new THistoryForm(std::move(*archive), parent);
}

THistoryForm::THistoryForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive))
{
    setObjectName(QStringLiteral("HistoryForm"));
    setWindowTitle(QStringLiteral("历史记录"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    auto* filterBar = new QHBoxLayout;
    filterBar->addWidget(new QLabel(QStringLiteral("测试日期从"), this));
    dtFrom = dateEdit(this);
    filterBar->addWidget(dtFrom);
    filterBar->addWidget(new QLabel(QStringLiteral("到"), this));
    dtTo = dateEdit(this);
    filterBar->addWidget(dtTo);
    filterBar->addWidget(new QLabel(QStringLiteral("继电器或单位"), this));
    edText = new QLineEdit(this);
    edText->setPlaceholderText(QStringLiteral("名称、型号、编号、校验或送检单位"));
    filterBar->addWidget(edText, 1);
    btnQuery = new QPushButton(QStringLiteral("查询"), this);
    filterBar->addWidget(btnQuery);

    Model = new sf6::HistoryModel(*archive_, this);
    HistoryGrid = new QTableView(this);
    HistoryGrid->setObjectName(QStringLiteral("HistoryGrid"));
    HistoryGrid->setModel(Model);
    HistoryGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    HistoryGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    HistoryGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    HistoryGrid->verticalHeader()->hide();
    HistoryGrid->verticalHeader()->setDefaultSectionSize(HistoryGrid->fontMetrics().height() + 4);
    HistoryGrid->horizontalHeader()->setDefaultSectionSize(sf6::kValueColumnWidth);
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kNumberColumn, sf6::kColumn0Width + 10);
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kArchivedAtColumn, sf6::kColumn1Width);
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kFirstListColumn, sf6::kColumn1Width);
    HistoryGrid->setWordWrap(false);

    Panel1 = new sf6::SidePanel(this);
    auto* middle = new QHBoxLayout;
    middle->addWidget(HistoryGrid, 1);
    middle->addWidget(Panel1);

    buttons_ = new QHBoxLayout;
    lbCount = new QLabel(this);
    buttons_->addWidget(lbCount, 1);
    btnReport = new QPushButton(QStringLiteral("生成报表"), this);
    btnExport = new QPushButton(QStringLiteral("导出数据"), this);
    buttons_->addWidget(btnReport);
    buttons_->addWidget(btnExport);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filterBar);
    layout->addLayout(middle, 1);
    layout->addLayout(buttons_);

    connect(btnQuery, &QPushButton::clicked, this, &THistoryForm::btnQueryClick);
    connect(edText, &QLineEdit::returnPressed, this, &THistoryForm::btnQueryClick);
    connect(HistoryGrid, &QTableView::clicked, this, &THistoryForm::HistoryGridClick);
    connect(btnReport, &QPushButton::clicked, this, &THistoryForm::btnReportClick);
    connect(btnExport, &QPushButton::clicked, this, &THistoryForm::btnExportClick);

    if (archive_->readOnly())
        lbCount->setToolTip(archive_->readOnlyReason());
    btnQueryClick();
}

sf6::ArchiveFilter THistoryForm::filter() const
{
    sf6::ArchiveFilter f;
    if (dtFrom->date() != kNoLimit)
        f.from = dtFrom->date();
    if (dtTo->date() != kNoLimit)
        f.to = dtTo->date();
    f.text = edText->text().trimmed();
    return f;
}

void THistoryForm::btnQueryClick()
{
    const sf6::ArchiveFilter f = filter();
    Panel1->clearValues();
    if (const sf6::Status s = Model->setFilter(f); !s) {
        ui::MessageBoxes::show(s.message(), this);
        return;
    }
    const auto n = sf6::countRecords(*archive_, f);
    lbCount->setText(n ? QStringLiteral("共%1条记录").arg(*n) : n.error());
}

void THistoryForm::HistoryGridClick(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const sf6::ListRow row = Model->record(index.row()).row();
    Panel1->fillFrom(&row);
}

std::vector<sf6::ArchivedRecord> THistoryForm::selectedRecords() const
{
    QModelIndexList rows = HistoryGrid->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<sf6::ArchivedRecord> out;
    out.reserve(size_t(rows.size()));
    for (const QModelIndex& i : rows)
        out.push_back(Model->record(i.row()));
    return out;
}

void THistoryForm::btnReportClick()
{
    const std::vector<sf6::ArchivedRecord> records = selectedRecords();
    if (records.empty()) {
        ui::MessageBoxes::show(kSelectRow, this);
        return;
    }
    std::vector<sf6::ListRow> rows;
    std::vector<int> ids;
    for (const sf6::ArchivedRecord& r : records) {
        rows.push_back(r.row());
        ids.push_back(r.id);
    }
    auto* dialog = new TForm3(nullptr);
    dialog->loadRows(rows, ids);
    // The texts of the record's latest report, where it has one.
    if (auto latest = sf6::latestReport(*archive_, ids.front()); latest && latest->has_value())
        dialog->setDetails((*latest)->details);
    if (onReportDialog) {
        onReportDialog(dialog);
    } else {
        dialog->setReportMaker([this](const sf6::ReportDetails& d, const sf6::ListRow& row, int id) {
            if (auto stored = sf6::storeReport(*archive_, id, d, kProgram); !stored)
                ui::MessageBoxes::show(stored.error(), this);
            return std::vector<sf6::ReportPage>{sf6::buildReportPage(d, row)};
        });
    }
    emit reportDialogOpened(dialog);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

QPushButton* THistoryForm::addCommand(const QString& caption,
                                      std::function<void(const std::vector<sf6::ArchivedRecord>&)> run)
{
    auto* b = new QPushButton(caption, this);
    buttons_->addWidget(b);
    connect(b, &QPushButton::clicked, this, [this, run = std::move(run)] {
        const std::vector<sf6::ArchivedRecord> records = selectedRecords();
        if (records.empty()) {
            ui::MessageBoxes::show(kSelectRow, this);
            return;
        }
        run(records);
    });
    return b;
}

void THistoryForm::btnExportClick()
{
    const std::vector<sf6::ArchivedRecord> records = selectedRecords();
    if (records.empty()) {
        ui::MessageBoxes::show(kSelectRow, this);
        return;
    }
    const QString chosen =
        ui::FileDialogs::saveFileName(ui::SaveRequest{QStringLiteral("导出数据"), QString(), sf6::kWorkbookFilter}, this);
    if (chosen.isEmpty())
        return;
    std::vector<sf6::ListRow> rows;
    for (const sf6::ArchivedRecord& r : records)
        rows.push_back(r.row());   // column A: the archive number
    const sf6::WorkbookInput in = sf6::listWorkbook(rows);
    if (const sf6::Status s = sf6::writeWorkbook(in, sf6::withXlsxExtension(chosen)); !s)
        ui::MessageBoxes::show(ui::Message{QStringLiteral("导出失败：") + s.message(), QStringLiteral("ListView2Excel"),
                                           QMessageBox::Critical},
                               this);
}
