#include "register/TTrendForm.h"

#include "register/TrendChart.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBox.h"

#include <QChartView>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{1000, 620};

QString withSuffix(const QString& name, const char* suffix)
{
    return QFileInfo(name).suffix().isEmpty() ? name + u'.' + QLatin1String(suffix) : name;
}
} // namespace

TTrendForm::TTrendForm(sf6::TrendData data, QWidget* parent) : QWidget(parent, Qt::Window), data_(std::move(data))
{
    setObjectName(QStringLiteral("TrendForm"));
    setWindowTitle(QStringLiteral("趋势图 - %1").arg(data_.entry.serial));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(kWindowSize);
    Chart = new QChartView(sf6::makeTrendChart(data_), this);
    Chart->setRenderHint(QPainter::Antialiasing);
    btnSavePng = new QPushButton(QStringLiteral("保存为PNG"), this);
    btnSavePdf = new QPushButton(QStringLiteral("保存为PDF"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnSavePng);
    buttons->addWidget(btnSavePdf);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Chart, 1);
    layout->addLayout(buttons);
    connect(btnSavePng, &QPushButton::clicked, this, &TTrendForm::btnSavePngClick);
    connect(btnSavePdf, &QPushButton::clicked, this, &TTrendForm::btnSavePdfClick);
}

TTrendForm* TTrendForm::open(const sf6::Archive& archive, const QString& serial, QWidget* messageParent)
{
    const auto trend = sf6::trendOf(archive, serial);
    if (!trend) {
        ui::MessageBoxes::show(trend.error(), messageParent);
        return nullptr;
    }
    auto* form = new TTrendForm(*trend, nullptr);
    form->show();
    return form;
}

void TTrendForm::btnSavePngClick()
{
    const QString name = ui::FileDialogs::saveFileName(
        {QStringLiteral("保存趋势图"), data_.entry.serial + QStringLiteral("-趋势.png"), QStringLiteral("PNG图片(*.png)")}, this);
    if (name.isEmpty())
        return;
    const QString file = withSuffix(name, "png");
    if (const sf6::Status s = sf6::saveTrendPng(data_, file); !s)
        ui::MessageBoxes::show(s.message(), this);
    else
        ui::SavedFiles::tell(file);
}

void TTrendForm::btnSavePdfClick()
{
    const QString name = ui::FileDialogs::saveFileName(
        {QStringLiteral("保存趋势图"), data_.entry.serial + QStringLiteral("-趋势.pdf"), QStringLiteral("PDF文件(*.pdf)")}, this);
    if (name.isEmpty())
        return;
    const QString file = withSuffix(name, "pdf");
    if (const sf6::Status s = sf6::saveTrendPdf(data_, file); !s)
        ui::MessageBoxes::show(s.message(), this);
    else
        ui::SavedFiles::tell(file);
}
