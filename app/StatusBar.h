#pragma once
// Status bar of the main window: the drawn connection indicator, three text
// panels, a fifth right of them that says what the last sync archived, and a
// note of the automatic backup once one has run.

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

#include <array>
#include <functional>

class TStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 5;
    static constexpr int kArchivePanel = 4;
    static constexpr int kArchiveWidth = 130;
    static constexpr int kIndicatorWidth = 20;
    static constexpr int kKindWidth = 100;
    static constexpr int kCountWidth = 300;
    static constexpr int kHeight = 19;

    explicit TStatusBar(QWidget* parent = nullptr);

    QString panelText(int i) const;
    void setPanelText(int i, const QString& text);
    int panelWidth(int i) const;
    QWidget* panel(int i) const { return panels_[size_t(i)]; }

    // Reads the connection flag when panel 0 is painted.
    void setConnectedSource(std::function<bool()> f) { connected_ = std::move(f); }
    QColor indicatorColor() const;

    // Sync progress: a bar, and its count beside it (a bar's own text is painted over).
    QProgressBar* progress() const { return progress_; }
    QLabel* progressCount() const { return progressCount_; }
    void showProgress(int value, int maximum);
    void hideProgress();

    void drawIndicator(QPainter& p, const QRect& rect) const;

    // A note at the right end that the instrument is simulated (the demo).
    void showDemoNote();
    QString demoNote() const;

    // The automatic backup's note, right of the other panels ("已备份 HH:MM");
    // the panels the link and the sync use keep their texts.
    void showBackupNote(const QString& text, const QString& tip = {});
    QString backupNote() const;

private:
    std::array<QWidget*, kPanelCount> panels_{};
    std::array<QLabel*, kPanelCount> labels_{};
    QProgressBar* progress_ = nullptr;
    QLabel* progressCount_ = nullptr;
    QLabel* demoNote_ = nullptr;
    QLabel* backupNote_ = nullptr;
    std::function<bool()> connected_;
};
