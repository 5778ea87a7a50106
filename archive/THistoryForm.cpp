#include "archive/THistoryForm.h"

#include "base/Clock.h"
#include "archive/ArchiveWindows.h"
#include "archive/ArchiveChanges.h"
#include "archive/ArchiveStore.h"
#include "archive/RecordSource.h"
#include "export/Workbook.h"
#include "report/TForm3.h"
#include "ui/FileDialogs.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"
#include "view/SidePanel.h"

#include <QAction>
#include <QCalendarWidget>
#include <QStyle>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <chrono>
#include <memory>

namespace {
constexpr QSize kWindowSize{1180, 720};
constexpr int kRelayColumnWidth = 100;
constexpr int kVerdictColumnWidth = 60;
const QString kSelectRow = QStringLiteral("请选择一行数据！");
const QString kCancelled = QStringLiteral("已取消");
constexpr std::chrono::milliseconds kProgressDelay{500};   // a short export shows no progress window
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

// Records from the archive, named apart from a sync's list of the same day.
QString historyWorkbookName(const QDate& day) { return QStringLiteral("历史记录_%1.xlsx").arg(day.toString(kDateFormat)); }
} // namespace

TDateFilter::TDateFilter(QWidget* parent) : QLineEdit(parent)
{
    setPlaceholderText(QStringLiteral("不限"));
    setClearButtonEnabled(true);
    setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00")) + 64);
    QAction* calendar = addAction(style()->standardIcon(QStyle::SP_FileDialogDetailedView), QLineEdit::TrailingPosition);
    calendar->setToolTip(QStringLiteral("日历"));
    connect(calendar, &QAction::triggered, this, &TDateFilter::CalendarClick);
}

std::optional<QDate> TDateFilter::date() const
{
    const QString t = text().trimmed();
    if (t.isEmpty())
        return std::nullopt;
    for (const QString& format : {kDateFormat, QStringLiteral("yyyy-M-d")})
        if (const QDate d = QDate::fromString(t, format); d.isValid())
            return d;
    return std::nullopt;
}

bool TDateFilter::valid() const { return text().trimmed().isEmpty() || date().has_value(); }

void TDateFilter::setDate(const QDate& d) { setText(d.isValid() ? d.toString(kDateFormat) : QString()); }

void TDateFilter::CalendarClick()
{
    auto* calendar = new QCalendarWidget(this);
    calendar->setWindowFlags(Qt::Popup);
    calendar->setAttribute(Qt::WA_DeleteOnClose);
    calendar->setSelectedDate(date().value_or(sf6::Clock::today()));   // never a placeholder year
    connect(calendar, &QCalendarWidget::clicked, this, [this, calendar](const QDate& d) {
        setDate(d);
        calendar->close();
    });
    calendar->move(mapToGlobal(QPoint(0, height())));
    calendar->show();
}

THistoryForm* THistoryForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent);
    return archive ? new THistoryForm(std::move(archive), parent) : nullptr;
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
    dtFrom = new TDateFilter(this);
    filterBar->addWidget(dtFrom);
    filterBar->addWidget(new QLabel(QStringLiteral("到"), this));
    dtTo = new TDateFilter(this);
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
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kRelayColumn, kRelayColumnWidth);
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kVerdictColumn, kVerdictColumnWidth);
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kP20Column, kVerdictColumnWidth + 10);
    HistoryGrid->setColumnWidth(sf6::HistoryModel::kFirstListColumn, sf6::kColumn1Width);
    HistoryGrid->setWordWrap(false);

    Panel1 = new sf6::SidePanel(this);
    auto* middle = new QHBoxLayout;
    middle->addWidget(HistoryGrid, 1);
    middle->addWidget(Panel1);

    buttons_ = new QHBoxLayout;
    lbCount = new QLabel(this);
    buttons_->addWidget(lbCount, 1);
    lbSource = new QLabel(this);
    lbSource->setObjectName(QStringLiteral("lbSource"));
    buttons_->addWidget(lbSource, 1);
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

    connect(&sf6::archiveChanges(), &sf6::ArchiveChanges::registerChanged, this, &THistoryForm::refresh);

    if (archive_->readOnly())
        lbCount->setToolTip(archive_->readOnlyReason());
    btnQueryClick();
}

sf6::ArchiveFilter THistoryForm::filter() const
{
    sf6::ArchiveFilter f;
    f.from = dtFrom->date();
    f.to = dtTo->date();
    f.text = edText->text().trimmed();
    return f;
}

void THistoryForm::btnQueryClick()
{
    for (TDateFilter* d : {dtFrom, dtTo})
        if (!d->valid()) {
            ui::MessageBoxes::show(QStringLiteral("日期应写成 YYYY-MM-DD（例如 2012-05-18），空着表示不限。"), this);
            d->setFocus();
            return;
        }
    const sf6::ArchiveFilter f = filter();
    Panel1->clearValues();
    lbSource->clear();
    if (const sf6::Status s = Model->setFilter(f); !s) {
        ui::MessageBoxes::show(s.message(), this);
        return;
    }
    const auto n = sf6::countRecords(*archive_, f);
    lbCount->setText(n ? QStringLiteral("共%1条记录").arg(*n) : n.error());
}

void THistoryForm::refresh()
{
    std::vector<int> selected;
    for (const sf6::ArchivedRecord& r : selectedRecords())
        selected.push_back(r.id);
    const int loaded = Model->rowCount();
    if (const sf6::Status s = Model->setFilter(filter()); !s)
        return;   // the next query tells
    while (Model->rowCount() < loaded && Model->canFetchMore())
        Model->fetchMore();   // as far as the user had scrolled, no further
    for (int row = 0; row < Model->rowCount() && !selected.empty(); ++row)
        if (std::find(selected.begin(), selected.end(), Model->recordId(row)) != selected.end())
            HistoryGrid->selectionModel()->select(Model->index(row, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void THistoryForm::HistoryGridClick(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const sf6::ListRow row = Model->record(index.row()).row();
    Panel1->fillFrom(&row);
    // Where the readings came from: an imported file is no instrument's word.
    const auto source = sf6::recordSource(*archive_, Model->recordId(index.row()));
    if (!source)
        lbSource->setText(source.error());
    else
        lbSource->setText(*source ? QStringLiteral("数据来源：") + (*source)->text() : QString());
    lbSource->setToolTip(source && *source && (*source)->imported ? QStringLiteral("SHA-256：") + (*source)->sha256
                                                                   : QString());
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
    // Its starting details, the judging and the keeping come from the program
    // that opened the history; without it the dialog only prints.
    if (onReportDialog)
        onReportDialog(dialog);
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
        ui::FileDialogs::saveFileName(ui::SaveRequest{QStringLiteral("导出数据"), historyWorkbookName(QDate::currentDate()),
                                                      sf6::kWorkbookFilter},
                                      this);
    if (chosen.isEmpty())
        return;
    // Each row's texts are made as the sheet takes it; a cancel costs the file.
    QProgressDialog progress(QStringLiteral("正在导出数据…"), QStringLiteral("取消"), 0, int(records.size()), this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(int(kProgressDelay.count()));
    const sf6::RowFeed feed = [&records, &progress](const sf6::AddRow& add) {
        for (size_t i = 0; i < records.size(); ++i) {
            progress.setValue(int(i));
            if (progress.wasCanceled())
                return sf6::Status::failure(sf6::ErrorCode::Cancelled, kCancelled);
            add(records[i].row());   // column A: the archive number
        }
        progress.setValue(int(records.size()));
        return sf6::Status::success();
    };
    const QString file = sf6::withXlsxExtension(chosen);
    const sf6::Status s = sf6::writeWorkbook(sf6::listWorkbook({}), feed, file);
    if (s)
        ui::SavedFiles::tell(file);
    else if (s.code() != sf6::ErrorCode::Cancelled)
        ui::MessageBoxes::show(ui::Message{QStringLiteral("导出失败：") + s.message(), QStringLiteral("ListView2Excel"),
                                           QMessageBox::Critical},
                               this);
}
