#pragma once
// 工具 → 标准器: the reference standards the lab tests with, each in its
// current version, with the fields to add one or change one (every save a
// new version). A standard whose certificate has run out is marked, since
// no certificate can be issued with it.

#include "archive/Archive.h"
#include "certificate/Certificate.h"

#include <QDate>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TStandardsForm : public QWidget {
    Q_OBJECT
public:
    // Opens its own connection to the archive; nullptr (and a message) when it cannot.
    static TStandardsForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    static const QColor kExpiredColour;
    static inline const QString kExpired = QStringLiteral("已过期");
    static inline const QString kValid = QStringLiteral("有效");
    static constexpr int kStateColumn = 8;

    QTableWidget* StandardGrid = nullptr;
    QLineEdit* edSerial = nullptr;
    QLineEdit* edName = nullptr;
    QLineEdit* edModel = nullptr;
    QLineEdit* edCertificate = nullptr;
    QLineEdit* edIssuer = nullptr;
    QLineEdit* edValidUntil = nullptr;
    QLineEdit* edUncertainty = nullptr;
    QLineEdit* edExpandedUncertainty = nullptr;   // U, MPa, for the guard band
    QLineEdit* edCoverageFactor = nullptr;        // k
    QPushButton* btnNew = nullptr;
    QPushButton* btnSave = nullptr;
    QLabel* lbToday = nullptr;

    sf6::Archive& archive() { return *archive_; }
    // The day validity is measured against (today, unless a test says otherwise).
    void setToday(const QDate& d);
    const std::vector<sf6::ReferenceStandard>& standards() const { return standards_; }

public slots:
    void FormCreate();
    void StandardGridClick(int row);
    void btnNewClick();
    void btnSaveClick();

private:
    TStandardsForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    void showStandard(const sf6::ReferenceStandard& s);

    std::shared_ptr<sf6::Archive> archive_;
    std::vector<sf6::ReferenceStandard> standards_;
    sf6::ReferenceStandard shown_;   // the standard as the fields were filled from it
    QDate today_;
};
