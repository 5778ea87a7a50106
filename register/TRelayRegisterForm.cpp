#include "register/TRelayRegisterForm.h"

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
    auto archive = sf6::Archive::open(location);
    if (!archive) {
        ui::MessageBoxes::show(archive.error(), parent);
        return nullptr;
    }
    return new TRelayRegisterForm(std::move(*archive), parent);
}

TRelayRegisterForm::TRelayRegisterForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive)), today_(QDate::currentDate())
{
    setObjectName(QStringLiteral("RelayRegisterForm"));
    setWindowTitle(QStringLiteral("继电器台账"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    RelayGrid = table(kRelayColumns, this);
    RelayGrid->setObjectName(QStringLiteral("RelayGrid"));
    VersionGrid = table(kVersionColumns, this);
    VersionGrid->setObjectName(QStringLiteral("VersionGrid"));

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
    auto* left = new QVBoxLayout;
    left->addWidget(RelayGrid, 1);
    left->addWidget(lbToday);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);

    connect(RelayGrid, &QTableWidget::cellClicked, this, [this](int row, int) { RelayGridClick(row); });
    connect(btnNew, &QPushButton::clicked, this, &TRelayRegisterForm::btnNewClick);
    connect(btnSave, &QPushButton::clicked, this, &TRelayRegisterForm::btnSaveClick);
    connect(btnTrend, &QPushButton::clicked, this, &TRelayRegisterForm::btnTrendClick);
    btnNewClick();
    FormCreate();
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
    RelayGrid->setRowCount(int(statuses_.size()));
    for (int r = 0; r < int(statuses_.size()); ++r) {
        const sf6::RelayStatus& s = statuses_[size_t(r)];
        const QString state = s.overdue ? QStringLiteral("已过期") : s.dueSoon ? QStringLiteral("30天内到期") : QString();
        const QStringList cells{s.entry.serial, s.entry.name, s.entry.model, s.entry.client,
                                s.entry.classText(),
                                s.lastTest ? s.lastTest->toString(Qt::ISODate) : QString(),
                                s.lastVerdict,
                                s.nextDue ? s.nextDue->toString(Qt::ISODate) : QString(),
                                state};
        for (int c = 0; c < int(cells.size()); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (s.overdue)
                item->setBackground(kOverdueColour);
            else if (s.dueSoon)
                item->setBackground(kDueSoonColour);
            RelayGrid->setItem(r, c, item);
        }
    }
}

void TRelayRegisterForm::showEntry(const sf6::RelayEntry& e)
{
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

    VersionGrid->setRowCount(0);
    if (e.serial.isEmpty())
        return;
    auto history = sf6::relayHistory(*archive_, e.serial);
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
    if (row >= 0 && row < int(statuses_.size()))
        showEntry(statuses_[size_t(row)].entry);
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
    const auto current = sf6::findRelay(*archive_, edSerial->text().trimmed());
    const sf6::RelayEntry base = current && *current ? **current : sf6::RelayEntry{};
    const auto entry = sf6::applyRelayTexts(base, texts());
    if (!entry) {
        ui::MessageBoxes::show(entry.error(), this);
        return;
    }
    const auto saved = sf6::saveRelay(*archive_, *entry, kProgram);
    if (!saved) {
        ui::MessageBoxes::show(saved.error(), this);
        return;
    }
    FormCreate();
    for (int r = 0; r < int(statuses_.size()); ++r)
        if (statuses_[size_t(r)].entry.serial == saved->serial) {
            RelayGrid->selectRow(r);
            RelayGridClick(r);
        }
}

void TRelayRegisterForm::btnTrendClick()
{
    if (TTrendForm* form = TTrendForm::open(*archive_, edSerial->text().trimmed(), this))
        emit trendOpened(form);
}
