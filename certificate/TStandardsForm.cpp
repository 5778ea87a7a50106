#include "certificate/TStandardsForm.h"

#include "base/Clock.h"
#include "archive/ArchiveWindows.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

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

const QColor TStandardsForm::kExpiredColour{255, 200, 200};

namespace {
constexpr QSize kWindowSize{1100, 480};
const QStringList kColumns{QStringLiteral("编号"),     QStringLiteral("名称"),     QStringLiteral("型号"),
                           QStringLiteral("证书编号"), QStringLiteral("发证单位"), QStringLiteral("有效期至"),
                           QStringLiteral("不确定度/准确度等级"), QStringLiteral("版本"), QStringLiteral("状态")};
constexpr int kSerialRole = Qt::UserRole;
constexpr int kMostListShare = 65;   // percent of the screen's width
} // namespace

TStandardsForm* TStandardsForm::open(const sf6::ArchiveLocation& location, QWidget* parent)
{
    auto archive = sf6::archiveForWindow(location, parent);
    return archive ? new TStandardsForm(std::move(archive), parent) : nullptr;
}

TStandardsForm::TStandardsForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(std::move(archive)), today_(sf6::Clock::today())
{
    setObjectName(QStringLiteral("StandardsForm"));
    setWindowTitle(QStringLiteral("标准器"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    StandardGrid = new QTableWidget(0, int(kColumns.size()), this);
    StandardGrid->setObjectName(QStringLiteral("StandardGrid"));
    StandardGrid->setHorizontalHeaderLabels(kColumns);
    StandardGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    StandardGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    StandardGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StandardGrid->verticalHeader()->hide();
    StandardGrid->horizontalHeader()->setStretchLastSection(false);

    auto* fields = new QGroupBox(QStringLiteral("标准器信息"), this);
    auto* form = new QFormLayout(fields);
    auto field = [&](const QString& caption, const QString& tip = {}) {
        auto* e = new QLineEdit(fields);
        e->setPlaceholderText(tip);
        form->addRow(caption, e);
        return e;
    };
    edSerial = field(QStringLiteral("编号"));
    edName = field(QStringLiteral("名称"));
    edModel = field(QStringLiteral("型号"));
    edCertificate = field(QStringLiteral("证书编号"));
    edIssuer = field(QStringLiteral("发证单位"));
    edValidUntil = field(QStringLiteral("有效期至"), QStringLiteral("例如 2027-06-30"));
    edUncertainty = field(QStringLiteral("不确定度/准确度等级"));
    edExpandedUncertainty = field(QStringLiteral("扩展不确定度U（MPa）"), QStringLiteral("例如 0.002；保护带判定用"));
    edCoverageFactor = field(QStringLiteral("包含因子k"), QStringLiteral("空：2"));
    edExpandedUncertainty->setObjectName(QStringLiteral("edExpandedUncertainty"));
    edCoverageFactor->setObjectName(QStringLiteral("edCoverageFactor"));
    btnNew = new QPushButton(QStringLiteral("新建"), this);
    btnSave = new QPushButton(QStringLiteral("保存"), this);
    lbToday = new QLabel(this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnNew);
    buttons->addWidget(btnSave);
    auto* right = new QVBoxLayout;
    right->addWidget(fields);
    right->addLayout(buttons);
    right->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addWidget(StandardGrid, 1);
    left->addWidget(lbToday);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 3);
    layout->addLayout(right, 2);

    connect(StandardGrid, &QTableWidget::cellClicked, this, [this](int row, int) { StandardGridClick(row); });
    connect(btnNew, &QPushButton::clicked, this, &TStandardsForm::btnNewClick);
    connect(btnSave, &QPushButton::clicked, this, &TStandardsForm::btnSaveClick);
    FormCreate();
}

void TStandardsForm::setToday(const QDate& d)
{
    today_ = d;
    FormCreate();
}

void TStandardsForm::FormCreate()
{
    auto standards = sf6::listStandards(*archive_);
    if (!standards) {
        ui::MessageBoxes::show(standards.error(), this);
        return;
    }
    standards_ = std::move(*standards);
    lbToday->setText(QStringLiteral("共%1台标准器；有效期按 %2 计算，红色为证书已过期")
                         .arg(standards_.size())
                         .arg(today_.toString(Qt::ISODate)));
    StandardGrid->setRowCount(int(standards_.size()));
    for (int r = 0; r < int(standards_.size()); ++r) {
        const sf6::ReferenceStandard& s = standards_[size_t(r)];
        const QDate until = QDate::fromString(s.validUntil, Qt::ISODate);
        const bool expired = until.isValid() && until < today_;
        const QStringList cells{s.serial, s.name, s.model, s.certificate, s.issuer, s.validUntil, s.uncertainty,
                                QString::number(s.version), expired ? kExpired : kValid};
        for (int c = 0; c < int(cells.size()); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setData(kSerialRole, s.serial);
            if (expired)
                item->setBackground(kExpiredColour);
            StandardGrid->setItem(r, c, item);
        }
    }
    StandardGrid->resizeColumnsToContents();
    // The whole row in view, 状态 included, as far as the screen allows.
    int width = 2 * StandardGrid->frameWidth() + StandardGrid->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < StandardGrid->columnCount(); ++c)
        width += StandardGrid->columnWidth(c);
    if (const QScreen* screen = this->screen())
        width = std::min(width, screen->availableGeometry().width() * kMostListShare / 100);
    StandardGrid->setMinimumWidth(width);
}

void TStandardsForm::showStandard(const sf6::ReferenceStandard& s)
{
    shown_ = s;
    edSerial->setText(s.serial);
    edName->setText(s.name);
    edModel->setText(s.model);
    edCertificate->setText(s.certificate);
    edIssuer->setText(s.issuer);
    edValidUntil->setText(s.validUntil);
    edUncertainty->setText(s.uncertainty);
    edExpandedUncertainty->setText(s.expandedUncertainty);
    edCoverageFactor->setText(s.coverageFactor);
}

void TStandardsForm::StandardGridClick(int row)
{
    if (row >= 0 && row < int(standards_.size()))
        showStandard(standards_[size_t(row)]);
}

void TStandardsForm::btnNewClick()
{
    StandardGrid->clearSelection();
    showStandard(sf6::ReferenceStandard{});
    edSerial->setFocus();
}

void TStandardsForm::btnSaveClick()
{
    const QString serial = edSerial->text().trimmed();
    if (serial.isEmpty()) {
        ui::MessageBoxes::show(QStringLiteral("请填写标准器编号。"), this);
        return;
    }
    // A standard shown from the list: only what was changed here, so that a
    // change made meanwhile in another window keeps its fields. A serial typed
    // anew: what was filled in.
    const bool shownStandard = shown_.versionId != 0 && shown_.serial == serial;
    auto given = [shownStandard](const QLineEdit* e, const QString& was) -> std::optional<QString> {
        const QString typed = e->text().trimmed();
        if (shownStandard ? typed == was : typed.isEmpty())
            return std::nullopt;
        return typed;
    };
    sf6::StandardTexts texts;
    texts.name = given(edName, shown_.name);
    texts.model = given(edModel, shown_.model);
    texts.certificate = given(edCertificate, shown_.certificate);
    texts.issuer = given(edIssuer, shown_.issuer);
    texts.validUntil = given(edValidUntil, shown_.validUntil);
    texts.uncertainty = given(edUncertainty, shown_.uncertainty);
    texts.expandedUncertainty = given(edExpandedUncertainty, shown_.expandedUncertainty);
    texts.coverageFactor = given(edCoverageFactor, shown_.coverageFactor);
    const auto saved = sf6::saveStandard(*archive_, serial, texts);
    if (!saved) {
        ui::MessageBoxes::show(saved.error(), this);
        return;
    }
    FormCreate();
    for (int r = 0; r < StandardGrid->rowCount(); ++r)
        if (StandardGrid->item(r, 0)->data(kSerialRole).toString() == saved->serial) {
            StandardGrid->selectRow(r);
            StandardGridClick(r);
        }
}
