#include "app/StatusBar.h"

#include <QPainter>

namespace {
constexpr QColor kGreen{0, 128, 0};
constexpr QColor kRed{255, 0, 0};
constexpr int kIndicatorDiameter = 15;
constexpr int kProgressWidth = 120;
constexpr int kBackupNoteWidth = 320;
const QString kDemoNote = QStringLiteral("演示：模拟校验仪");

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
    // The indicator's panel has no bevel; the text panels draw their own.
    setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }"));
    setContentsMargins(0, 0, 0, 0);

    auto* indicator = new IndicatorPanel(this);
    indicator->setFixedSize(kIndicatorWidth, kHeight);
    panels_[0] = indicator;
    addWidget(indicator);

    for (int i = 1; i < kPanelCount; ++i) {
        auto* l = new QLabel(this);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setContentsMargins(2, 0, 2, 0);
        labels_[size_t(i)] = l;
        panels_[size_t(i)] = l;
    }
    labels_[3]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labels_[2]->setFixedWidth(kKindWidth);
    labels_[3]->setFixedWidth(kCountWidth);
    labels_[kArchivePanel]->setFixedWidth(kArchiveWidth);
    // Panel 1 takes what is left, so panel 3 always stays inside the window.
    addWidget(labels_[1], 1);

    progress_ = new QProgressBar(this);
    progress_->setFixedWidth(kProgressWidth);
    progress_->setMaximumHeight(kHeight - 4);
    progress_->setTextVisible(false);
    progress_->hide();
    addPermanentWidget(progress_);
    progressCount_ = new QLabel(this);
    progressCount_->hide();
    addPermanentWidget(progressCount_);
    addPermanentWidget(labels_[2]);
    addPermanentWidget(labels_[3]);
    addPermanentWidget(labels_[kArchivePanel]);
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

void TStatusBar::showProgress(int value, int maximum)
{
    progress_->setRange(0, maximum);
    progress_->setValue(value);
    progress_->show();
    // A range of 0..0 is the busy bar before the first record: no count yet.
    progressCount_->setText(maximum > 0 ? QStringLiteral("%1/%2").arg(value).arg(maximum) : QString());
    progressCount_->setVisible(maximum > 0);
}

void TStatusBar::hideProgress()
{
    progress_->hide();
    progressCount_->hide();
}

int TStatusBar::panelWidth(int i) const { return panels_[size_t(i)]->width(); }

QColor TStatusBar::indicatorColor() const { return connected_ && connected_() ? kGreen : kRed; }

void TStatusBar::drawIndicator(QPainter& p, const QRect& rect) const
{
    const QColor c = indicatorColor();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(c);
    p.setBrush(c);
    // Centred on pixel centres, so the filled circle covers exactly 15 x 15 pixels.
    const QPointF corner = QPointF(rect.topLeft()) + QPointF(0.5, 0.5);
    p.drawEllipse(QRectF(corner, QSizeF(kIndicatorDiameter - 1, kIndicatorDiameter - 1)));
}

void TStatusBar::showDemoNote()
{
    if (demoNote_)
        return;
    demoNote_ = new QLabel(kDemoNote, this);
    demoNote_->setObjectName(QStringLiteral("DemoNote"));
    demoNote_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    demoNote_->setContentsMargins(2, 0, 2, 0);
    demoNote_->setStyleSheet(QStringLiteral("color: #b00000;"));
    addPermanentWidget(demoNote_);
}

QString TStatusBar::demoNote() const { return demoNote_ ? demoNote_->text() : QString(); }

void TStatusBar::showBackupNote(const QString& text, const QString& tip)
{
    if (!backupNote_) {
        backupNote_ = new QLabel(this);
        backupNote_->setObjectName(QStringLiteral("BackupNote"));
        backupNote_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        backupNote_->setContentsMargins(2, 0, 2, 0);
        addPermanentWidget(backupNote_);
    }
    // A long reason is cut to fit; the whole of it is the note's tip.
    backupNote_->setText(backupNote_->fontMetrics().elidedText(text, Qt::ElideRight, kBackupNoteWidth));
    backupNote_->setToolTip(tip.isEmpty() ? text : tip);
}

QString TStatusBar::backupNote() const { return backupNote_ ? backupNote_->text() : QString(); }
