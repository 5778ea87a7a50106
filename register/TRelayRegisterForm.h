#pragma once
// The register window "继电器台账": every relay with its last test, last
// verdict and next due date (overdue, failed and soon-due entries marked),
// searchable and sortable, and the entry's fields for a new relay or a
// changed one. Every save is a new version; the earlier ones are listed
// beneath, with the records linked to the relay and unlinked from it. It
// reads the register again when another window changes it.

#include "archive/Archive.h"
#include "register/RelayRegister.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TRelayRegisterForm : public QWidget {
    Q_OBJECT
public:
    // Opens its own connection to the archive; nullptr (and a message) when it cannot.
    static TRelayRegisterForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    // Overdue and soon-due rows are told by these backgrounds.
    static const QColor kOverdueColour;
    static const QColor kDueSoonColour;

    QLineEdit* edSearch = nullptr;
    QTableWidget* RelayGrid = nullptr;
    QLineEdit* edSerial = nullptr;
    QLineEdit* edName = nullptr;
    QLineEdit* edModel = nullptr;
    QLineEdit* edMade = nullptr;
    QLineEdit* edClient = nullptr;
    QLineEdit* edLower = nullptr;
    QLineEdit* edUpper = nullptr;
    QComboBox* cbClass = nullptr;
    QLineEdit* edAlarm = nullptr;
    QLineEdit* edLock1 = nullptr;
    QLineEdit* edLock2 = nullptr;
    QLineEdit* edDiffLimit = nullptr;
    QLineEdit* edInterval = nullptr;
    QPushButton* btnNew = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnTrend = nullptr;
    QTableWidget* VersionGrid = nullptr;
    QTableWidget* LinkGrid = nullptr;   // links made and undone
    QLabel* lbToday = nullptr;

    sf6::Archive& archive() { return *archive_; }
    // The day due dates are measured from (today, unless a test says otherwise).
    void setToday(const QDate& d);
    const std::vector<sf6::RelayStatus>& statuses() const { return statuses_; }

signals:
    void trendOpened(QWidget* trend);

public slots:
    void FormCreate();
    void RelayGridClick(int row);
    void edSearchChange();
    void RegisterChange();
    void btnNewClick();
    void btnSaveClick();
    void btnTrendClick();

private:
    TRelayRegisterForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    void showEntry(const sf6::RelayEntry& e);
    void showHistory(const QString& serial);
    void fitColumns();
    QString shownSerial_;   // whose versions and links are listed
    sf6::RelayTexts texts() const;

    std::shared_ptr<sf6::Archive> archive_;
    std::vector<sf6::RelayStatus> statuses_;
    sf6::RelayEntry shown_;   // the entry as the fields were filled from it
    QDate today_;
};
