#include "register/TPressureForm.h"

#include "archive/THistoryForm.h"
#include "register/Decimal.h"
#include "register/P20Check.h"
#include "register/PressureTable.h"
#include "register/Sf6Gas.h"
#include "report/TForm4.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <optional>

namespace {

constexpr QSize kWindowSize{440, 640};
constexpr int kDecimals = 3;
const QString kDefaultSetValue = QStringLiteral("0.550");

std::optional<double> numberIn(const QLineEdit* e)
{
    const std::optional<sf6::Decimal> d = sf6::Decimal::parse(e->text());
    if (!d)
        return std::nullopt;
    return double(d->nano()) / double(sf6::Decimal::kScale);
}

// The answer, or why there is none; nothing while a field is still empty.
QString answer(const QLineEdit* pressure, const QLineEdit* celsius, bool fromPt)
{
    if (pressure->text().trimmed().isEmpty() || celsius->text().trimmed().isEmpty())
        return {};
    const std::optional<double> p = numberIn(pressure), t = numberIn(celsius);
    if (!p || !t)
        return QStringLiteral("请输入数值");
    const sf6::Expected<double> r = fromPt ? sf6::p20FromPt(*p, *t) : sf6::ptFromP20(*p, *t);
    return r ? QString::number(*r, 'f', kDecimals) + QStringLiteral(" MPa") : r.error();
}

QLineEdit* field(QWidget* parent, const QString& name, const QString& text)
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(name);
    return e;
}

QLabel* result(QWidget* parent, const QString& name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

} // namespace

TPressureForm::TPressureForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("PressureForm"));
    setWindowTitle(QStringLiteral("SF6压力换算"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    edPt = field(this, QStringLiteral("edPt"), QString());
    edPtTemp = field(this, QStringLiteral("edPtTemp"), QString());
    lbP20 = result(this, QStringLiteral("lbP20"));
    auto* toP20 = new QGroupBox(QStringLiteral("由现场压力求20°C压力"), this);
    auto* f1 = new QFormLayout(toP20);
    f1->addRow(QStringLiteral("压力Pt（MPa）"), edPt);
    f1->addRow(QStringLiteral("温度（°C）"), edPtTemp);
    f1->addRow(QStringLiteral("P20"), lbP20);

    edP20 = field(this, QStringLiteral("edP20"), QString());
    edP20Temp = field(this, QStringLiteral("edP20Temp"), QString());
    lbPt = result(this, QStringLiteral("lbPt"));
    auto* toPt = new QGroupBox(QStringLiteral("由20°C压力求现场压力"), this);
    auto* f2 = new QFormLayout(toPt);
    f2->addRow(QStringLiteral("P20（MPa）"), edP20);
    f2->addRow(QStringLiteral("温度（°C）"), edP20Temp);
    f2->addRow(QStringLiteral("Pt"), lbPt);

    edTableP20 = field(this, QStringLiteral("edTableP20"), kDefaultSetValue);
    TableGrid = new QTableWidget(0, 2, this);
    TableGrid->setObjectName(QStringLiteral("TableGrid"));
    TableGrid->setHorizontalHeaderLabels({QStringLiteral("温度（°C）"), QStringLiteral("压力Pt（MPa）")});
    TableGrid->verticalHeader()->hide();
    TableGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    btnPrint = new QPushButton(QStringLiteral("打印换算表"), this);
    btnPrint->setObjectName(QStringLiteral("btnPrint"));
    auto* table = new QGroupBox(QStringLiteral("换算表（-20～50°C）"), this);
    auto* tableLayout = new QVBoxLayout(table);
    auto* setRow = new QHBoxLayout;
    setRow->addWidget(new QLabel(QStringLiteral("P20（MPa）"), table));
    setRow->addWidget(edTableP20, 1);
    setRow->addWidget(btnPrint);
    tableLayout->addLayout(setRow);
    tableLayout->addWidget(TableGrid, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(toP20);
    layout->addWidget(toPt);
    layout->addWidget(table, 1);

    connect(edPt, &QLineEdit::textChanged, this, &TPressureForm::edPtChange);
    connect(edPtTemp, &QLineEdit::textChanged, this, &TPressureForm::edPtTempChange);
    connect(edP20, &QLineEdit::textChanged, this, &TPressureForm::edP20Change);
    connect(edP20Temp, &QLineEdit::textChanged, this, &TPressureForm::edP20TempChange);
    connect(edTableP20, &QLineEdit::textChanged, this, &TPressureForm::edTableP20Change);
    connect(btnPrint, &QPushButton::clicked, this, &TPressureForm::btnPrintClick);
    edTableP20Change();
}

void TPressureForm::edPtChange() { lbP20->setText(answer(edPt, edPtTemp, true)); }

void TPressureForm::edP20Change() { lbPt->setText(answer(edP20, edP20Temp, false)); }

void TPressureForm::edTableP20Change()
{
    const std::optional<double> p20 = numberIn(edTableP20);
    btnPrint->setEnabled(p20.has_value());
    TableGrid->setRowCount(0);
    if (!p20)
        return;
    for (const sf6::PressureTableRow& r : sf6::pressureTable(*p20)) {
        const int row = TableGrid->rowCount();
        TableGrid->insertRow(row);
        auto* t = new QTableWidgetItem(QString::number(r.celsius));
        auto* p = new QTableWidgetItem(sf6::pressureCell(r));
        t->setTextAlignment(Qt::AlignCenter);
        p->setTextAlignment(Qt::AlignCenter);
        if (!r.pt)
            p->setToolTip(r.pt.error());
        TableGrid->setItem(row, 0, t);
        TableGrid->setItem(row, 1, p);
    }
}

void TPressureForm::btnPrintClick()
{
    const std::optional<double> p20 = numberIn(edTableP20);
    if (!p20)
        return;
    (new TForm4(sf6::pressureTablePage(*p20), this))->preview();
}

void TPressureForm::addP20CheckTo(THistoryForm* history)
{
    history->Model->setRowCheck([](const sf6::ListRow& row) { return sf6::checkP20(row).stateText(); });
    history->addCommand(QStringLiteral("P20核查"), [history](const std::vector<sf6::ArchivedRecord>& records) {
        QStringList lines, details;
        for (const sf6::ArchivedRecord& r : records) {
            const sf6::P20Check check = sf6::checkP20(r.row());
            lines << QStringLiteral("档案号%1：").arg(r.id) + sf6::p20CheckLine(check);
            details << QStringLiteral("档案号%1（%2）").arg(r.id).arg(check.temperatureText);
            for (const sf6::P20Item& i : check.items)
                details << QStringLiteral("%1  Pt %2  P20 %3  换算 %4  偏差 %5  %6")
                               .arg(i.caption, i.ptText, i.p20Text, i.computed.fixedText(sf6::kP20ComputedDecimals),
                                    sf6::deviationText(i.deviation), i.agrees() ? sf6::kP20Agrees : sf6::kP20Disagrees);
        }
        ui::MessageBoxes::show(ui::Message{lines.join(u'\n'), ui::kMessageCaption, QMessageBox::NoIcon, details.join(u'\n')},
                               history);
    });
}
