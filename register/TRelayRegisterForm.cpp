#include "register/TRelayRegisterForm.h"

#include "base/Clock.h"
#include "archive/ArchiveWindows.h"
#include "archive/ArchiveChanges.h"
#include "archive/SearchText.h"
#include "register/TTrendForm.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

const QColor TRelayRegisterForm::kOverdueColour{255, 200, 200};
const QColor TRelayRegisterForm::kDueSoonColour{255, 240, 180};

namespace {
constexpr QSize kWindowSize{1180, 640};
const QString kProgram = QStringLiteral("sf6companion");

const QStringList kRelayColumns{QStringLiteral("编号"),     QStringLiteral("继电器名称"), QStringLiteral("型号"),
                                QStringLiteral("送检单位"), QStringLiteral("准确度等级"), QStringLiteral("上次校验"),
                                QStringLiteral("上次结论"), QStringLiteral("下次到期"),   QStringLiteral("状态")};
const QStringList kLinkColumns{QStringLiteral("时间"), QStringLiteral("档案号"), QStringLiteral("变更"),
                               QStringLiteral("来源")};
const QString kFailed = QStringLiteral("不合格");
constexpr int kSerialRole = Qt::UserRole;   // on every cell: the row's relay, whatever the sort order
constexpr int kWindowMargin = 40;
constexpr int kMostListShare = 65;   // percent of the screen's width
constexpr int kHistoryRowsShown = 5;   // the versions and link changes show at least this many rows

// Tall enough for its header and the given number of rows, with room for a
// scroll bar under them when the columns are wider than the table.
int heightForRows(const QTableWidget* t, int rows)
{
    return t->horizontalHeader()->sizeHint().height() + rows * t->verticalHeader()->defaultSectionSize()
        + t->horizontalScrollBar()->sizeHint().height() + 2 * t->frameWidth();
}

const QStringList kVersionColumns{QStringLiteral("版本"),     QStringLiteral("修改时间"),  QStringLiteral("量程"),
                                  QStringLiteral("等级"),     QStringLiteral("报警"),      QStringLiteral("闭锁1"),
                                  QStringLiteral("闭锁2"),    QStringLiteral("切换差限值"), QStringLiteral("周期（月）")};

QString optionalText(const std::optional<sf6::Decimal>& d) { return d ? d->text() : QString(); }

QTableWidget* table(const QStringList& columns, QWidget* parent)
{
    auto* t = new QTableWidget(0, int(columns.size()), parent);
    t->setHorizontalHeaderLabels(columns);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}
} // namespace

TRelayRegisterForm* TRelayRegisterForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent);
    return archive ? new TRelayRegisterForm(std::move(archive), parent) : nullptr;
}

TRelayRegisterForm::TRelayRegisterForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive)), today_(sf6::Clock::today())
{
    setObjectName(QStringLiteral("RelayRegisterForm"));
    setWindowTitle(QStringLiteral("继电器台账"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    edSearch = new QLineEdit(this);
    edSearch->setObjectName(QStringLiteral("edSearch"));
    edSearch->setPlaceholderText(QStringLiteral("编号、名称、型号或送检单位"));
    edSearch->setClearButtonEnabled(true);
    RelayGrid = table(kRelayColumns, this);
    RelayGrid->setObjectName(QStringLiteral("RelayGrid"));
    RelayGrid->horizontalHeader()->setStretchLastSection(false);
    RelayGrid->setSortingEnabled(true);
    RelayGrid->sortByColumn(0, Qt::AscendingOrder);
    VersionGrid = table(kVersionColumns, this);
    VersionGrid->setObjectName(QStringLiteral("VersionGrid"));
    LinkGrid = table(kLinkColumns, this);
    LinkGrid->setObjectName(QStringLiteral("LinkGrid"));
    for (QTableWidget* t : {VersionGrid, LinkGrid})
        t->setMinimumHeight(heightForRows(t, kHistoryRowsShown));

    auto* fields = new QGroupBox(QStringLiteral("继电器信息"), this);
    auto* form = new QFormLayout(fields);
    auto field = [&](const QString& caption, const QString& tip = {}) {
        auto* e = new QLineEdit(fields);
        e->setPlaceholderText(tip);
        form->addRow(caption, e);
        return e;
    };
    edSerial = field(sf6::kFieldSerial);
    edName = field(QStringLiteral("继电器名称"));
    edModel = field(QStringLiteral("型号"));
    edMade = field(QStringLiteral("生产日期"));
    edClient = field(QStringLiteral("送检单位"));
    edLower = field(sf6::kFieldLower + QStringLiteral("（MPa）"));
    edUpper = field(sf6::kFieldUpper + QStringLiteral("（MPa）"));
    cbClass = new QComboBox(fields);
    cbClass->addItems({QStringLiteral("1.0"), QStringLiteral("1.6"), QStringLiteral("2.5")});
    form->addRow(sf6::kFieldClass, cbClass);
    edAlarm = field(sf6::kFieldAlarm + QStringLiteral("（MPa，20°C）"), QStringLiteral("空：不判定"));
    edLock1 = field(sf6::kFieldLock1 + QStringLiteral("（MPa，20°C）"), QStringLiteral("空：不判定"));
    edLock2 = field(sf6::kFieldLock2 + QStringLiteral("（MPa，20°C）"), QStringLiteral("空：不判定"));
    edDiffLimit = field(sf6::kFieldDiffLimit + QStringLiteral("（MPa）"), QStringLiteral("空：等于允许误差"));
    edInterval = field(sf6::kFieldInterval);

    btnNew = new QPushButton(QStringLiteral("新建"), this);
    btnSave = new QPushButton(QStringLiteral("保存"), this);
    btnTrend = new QPushButton(QStringLiteral("趋势图"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnNew);
    buttons->addWidget(btnSave);
    buttons->addWidget(btnTrend);
    lbToday = new QLabel(this);

    auto* right = new QVBoxLayout;
    right->addWidget(fields);
    right->addLayout(buttons);
    right->addWidget(new QLabel(QStringLiteral("历次修改（判定使用当时的数值）"), this));
    right->addWidget(VersionGrid, 1);
    right->addWidget(new QLabel(QStringLiteral("关联变更"), this));
    right->addWidget(LinkGrid, 1);
    auto* search = new QHBoxLayout;
    search->addWidget(new QLabel(QStringLiteral("查找"), this));
    search->addWidget(edSearch, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(search);
    left->addWidget(RelayGrid, 1);
    left->addWidget(lbToday);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);

    connect(RelayGrid, &QTableWidget::cellClicked, this, [this](int row, int) { RelayGridClick(row); });
    connect(edSearch, &QLineEdit::textChanged, this, &TRelayRegisterForm::edSearchChange);
    connect(&sf6::archiveChanges(), &sf6::ArchiveChanges::registerChanged, this, &TRelayRegisterForm::RegisterChange);
    connect(btnNew, &QPushButton::clicked, this, &TRelayRegisterForm::btnNewClick);
    connect(btnSave, &QPushButton::clicked, this, &TRelayRegisterForm::btnSaveClick);
    connect(btnTrend, &QPushButton::clicked, this, &TRelayRegisterForm::btnTrendClick);
    btnNewClick();
    FormCreate();
    // Wide enough for every column of the list beside the entry's fields.
    const int wanted = RelayGrid->minimumWidth() + right->sizeHint().width() + kWindowMargin;
    int width = std::max(kWindowSize.width(), wanted);
    // And tall enough for the entry's fields above its versions and link changes.
    int height = std::max(kWindowSize.height(), right->sizeHint().height() + kWindowMargin);
    if (const QScreen* screen = this->screen()) {
        width = std::min(width, screen->availableGeometry().width());
        height = std::min(height, screen->availableGeometry().height());
    }
    resize(width, height);
}

void TRelayRegisterForm::setToday(const QDate& d)
{
    today_ = d;
    FormCreate();
}

void TRelayRegisterForm::FormCreate()
{
    auto statuses = sf6::relayStatuses(*archive_, today_);
    if (!statuses) {
        ui::MessageBoxes::show(statuses.error(), this);
        return;
    }
    statuses_ = *statuses;
    lbToday->setText(QStringLiteral("共%1台继电器；到期日按 %2 计算，红色为已过期，黄色为%3天内到期")
                         .arg(statuses_.size())
                         .arg(today_.toString(Qt::ISODate))
                         .arg(sf6::kDueSoonDays));
    RelayGrid->setSortingEnabled(false);   // or the rows move while they are filled
    RelayGrid->setRowCount(int(statuses_.size()));
    for (int r = 0; r < int(statuses_.size()); ++r) {
        const sf6::RelayStatus& s = statuses_[size_t(r)];
        const QString state = sf6::stateText(s);
        const QStringList cells{s.entry.serial, s.entry.name, s.entry.model, s.entry.client,
                                s.entry.classText(),
                                s.lastTest ? s.lastTest->toString(Qt::ISODate) : QString(),
                                s.lastVerdict,
                                s.nextDue ? s.nextDue->toString(Qt::ISODate) : QString(),
                                state};
        for (int c = 0; c < int(cells.size()); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setData(kSerialRole, s.entry.serial);
            // A failed relay needs the same attention as an overdue one.
            if (s.overdue || s.lastVerdict == kFailed)
                item->setBackground(kOverdueColour);
            else if (s.dueSoon)
                item->setBackground(kDueSoonColour);
            item->setToolTip(sf6::skippedRecordsNote(s));
            RelayGrid->setItem(r, c, item);
        }
    }
    RelayGrid->setSortingEnabled(true);
    edSearchChange();
    fitColumns();
}

void TRelayRegisterForm::fitColumns()
{
    RelayGrid->resizeColumnsToContents();
    int width = 2 * RelayGrid->frameWidth() + RelayGrid->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < RelayGrid->columnCount(); ++c)
        width += RelayGrid->columnWidth(c);
    // Never wider than a screen leaves beside the entry's fields: a small
    // screen scrolls the list rather than pushing the window off it.
    if (const QScreen* screen = this->screen())
        width = std::min(width, screen->availableGeometry().width() * kMostListShare / 100);
    RelayGrid->setMinimumWidth(width);
}

void TRelayRegisterForm::edSearchChange()
{
    const QString wanted = sf6::foldedForSearch(edSearch->text().trimmed());
    constexpr int kSearched[] = {0, 1, 2, 3};   // 编号, 名称, 型号, 送检单位
    for (int r = 0; r < RelayGrid->rowCount(); ++r) {
        bool match = wanted.isEmpty();
        for (int c : kSearched)
            if (!match && RelayGrid->item(r, c) && sf6::foldedForSearch(RelayGrid->item(r, c)->text()).contains(wanted))
                match = true;
        RelayGrid->setRowHidden(r, !match);
    }
}

void TRelayRegisterForm::RegisterChange()
{
    // Links or entries changed, here or in another window: the list and the
    // shown relay's history again, the fields as the user left them.
    FormCreate();
    for (int r = 0; r < RelayGrid->rowCount(); ++r)
        if (RelayGrid->item(r, 0)->data(kSerialRole).toString() == shownSerial_ && !shownSerial_.isEmpty())
            RelayGrid->selectRow(r);
    showHistory(shownSerial_);
}

void TRelayRegisterForm::showEntry(const sf6::RelayEntry& e)
{
    shown_ = e;
    edSerial->setText(e.serial);
    edName->setText(e.name);
    edModel->setText(e.model);
    edMade->setText(e.made);
    edClient->setText(e.client);
    edLower->setText(e.lower.text());
    edUpper->setText(e.upper.text());
    cbClass->setCurrentText(e.classText());
    edAlarm->setText(optionalText(e.alarm));
    edLock1->setText(optionalText(e.lock1));
    edLock2->setText(optionalText(e.lock2));
    edDiffLimit->setText(optionalText(e.diffLimit));
    edInterval->setText(QString::number(e.intervalMonths));
    showHistory(e.serial);
}

void TRelayRegisterForm::showHistory(const QString& serial)
{
    shownSerial_ = serial;
    VersionGrid->setRowCount(0);
    LinkGrid->setRowCount(0);
    if (serial.isEmpty())
        return;
    if (auto changes = sf6::linkChanges(*archive_, serial)) {
        LinkGrid->setRowCount(int(changes->size()));
        for (int r = 0; r < int(changes->size()); ++r) {
            const sf6::LinkChange& c = (*changes)[size_t(r)];
            const QStringList cells{c.changedAt, QString::number(c.recordId),
                                    c.linked ? QStringLiteral("关联") : QStringLiteral("取消关联"), c.source};
            for (int col = 0; col < int(cells.size()); ++col)
                LinkGrid->setItem(r, col, new QTableWidgetItem(cells[col]));
        }
    }
    auto history = sf6::relayHistory(*archive_, serial);
    if (!history)
        return;
    VersionGrid->setRowCount(int(history->size()));
    for (int r = 0; r < int(history->size()); ++r) {
        const sf6::RelayEntry& v = (*history)[size_t(r)];
        const QStringList cells{QString::number(v.version), v.changedAt,
                                QStringLiteral("%1～%2").arg(v.lower.text(), v.upper.text()), v.classText(),
                                optionalText(v.alarm), optionalText(v.lock1), optionalText(v.lock2),
                                optionalText(v.diffLimit), QString::number(v.intervalMonths)};
        for (int c = 0; c < int(cells.size()); ++c)
            VersionGrid->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
}

void TRelayRegisterForm::RelayGridClick(int row)
{
    const QTableWidgetItem* item = RelayGrid->item(row, 0);
    if (!item)
        return;
    const QString serial = item->data(kSerialRole).toString();
    for (const sf6::RelayStatus& s : statuses_)
        if (s.entry.serial == serial)
            showEntry(s.entry);
}

void TRelayRegisterForm::btnNewClick()
{
    RelayGrid->clearSelection();
    showEntry(sf6::RelayEntry{});
    edSerial->setFocus();
}

sf6::RelayTexts TRelayRegisterForm::texts() const
{
    sf6::RelayTexts t;
    t.serial = edSerial->text();
    t.name = edName->text();
    t.model = edModel->text();
    t.made = edMade->text();
    t.client = edClient->text();
    t.lower = edLower->text();
    t.upper = edUpper->text();
    t.accuracyClass = cbClass->currentText();
    t.alarm = edAlarm->text();
    t.lock1 = edLock1->text();
    t.lock2 = edLock2->text();
    t.diffLimit = edDiffLimit->text();
    t.intervalMonths = edInterval->text();
    return t;
}

void TRelayRegisterForm::btnSaveClick()
{
    // An entry shown from the archive: only what was changed here, merged into the entry as it is by then.
    const bool shownEntry = shown_.versionId != 0 && shown_.serial == edSerial->text().trimmed();
    const auto edit =
        sf6::editRelay(*archive_, edSerial->text(), shownEntry ? sf6::changedTexts(shown_, texts()) : texts(), kProgram);
    if (!edit || !edit->refused) {
        ui::MessageBoxes::show(edit ? edit->refused.message() : edit.error(), this);
        return;
    }
    const sf6::RelayEntry* saved = &*edit->saved;
    FormCreate();
    for (int r = 0; r < RelayGrid->rowCount(); ++r)
        if (RelayGrid->item(r, 0)->data(kSerialRole).toString() == saved->serial) {
            RelayGrid->selectRow(r);
            RelayGridClick(r);
        }
}

void TRelayRegisterForm::btnTrendClick()
{
    if (TTrendForm* form = TTrendForm::open(*archive_, edSerial->text().trimmed(), this))
        emit trendOpened(form);
}
