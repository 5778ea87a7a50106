#include "app/StatusBar.h"

#include <QPainter>

namespace {
constexpr QColor kGreen{0, 128, 0};
constexpr QColor kRed{255, 0, 0};
constexpr int kIndicatorDiameter = 15;
constexpr int kProgressWidth = 120;

class IndicatorPanel : public QWidget {
public:
    explicit IndicatorPanel(TStatusBar* bar) : QWidget(bar), bar_(bar) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        bar_->drawIndicator(p, rect());
    }

private:
    TStatusBar* bar_;
};
} // namespace

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setFixedHeight(kHeight);
    setSizeGripEnabled(false);
    setStyleSheet(QStringLiteral("QStatusBar::item { border: 1px inset palette(mid); }"));

    auto* indicator = new IndicatorPanel(this);
    indicator->setFixedWidth(kIndicatorWidth);
    panels_[0] = indicator;
    addWidget(indicator);

    for (int i = 1; i < kPanelCount; ++i) {
        auto* l = new QLabel(this);
        l->setContentsMargins(2, 0, 2, 0);
        labels_[size_t(i)] = l;
        panels_[size_t(i)] = l;
    }
    labels_[3]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labels_[2]->setFixedWidth(kKindWidth);
    labels_[3]->setFixedWidth(kCountWidth);
    // Panel 1 takes what is left, so panel 3 always stays inside the window.
    addWidget(labels_[1], 1);

    progress_ = new QProgressBar(this);
    progress_->setFixedWidth(kProgressWidth);
    progress_->setMaximumHeight(kHeight - 4);
    progress_->setTextVisible(true);
    progress_->setFormat(QStringLiteral("%v/%m"));
    progress_->hide();
    addPermanentWidget(progress_);
    addPermanentWidget(labels_[2]);
    addPermanentWidget(labels_[3]);
}

QString TStatusBar::panelText(int i) const
{
    return i > 0 && i < kPanelCount ? labels_[size_t(i)]->text() : QString();
}

void TStatusBar::setPanelText(int i, const QString& text)
{
    if (i > 0 && i < kPanelCount)
        labels_[size_t(i)]->setText(text);
}

int TStatusBar::panelWidth(int i) const { return panels_[size_t(i)]->width(); }

QColor TStatusBar::indicatorColor() const { return connected_ && connected_() ? kGreen : kRed; }

void TStatusBar::drawIndicator(QPainter& p, const QRect& rect) const
{
    const QColor c = indicatorColor();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(c);
    p.setBrush(c);
    p.drawEllipse(QRect(rect.topLeft(), QSize(kIndicatorDiameter, kIndicatorDiameter)));
}
