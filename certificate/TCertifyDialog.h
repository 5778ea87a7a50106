#pragma once
// 出具证书 (a command of the history window) and 替代… (of the certificates
// window): the lab profile and the record's relay as the register has them,
// read-only; the standard, the humidity, the three signers and the record
// before adjustment chosen here. 确定 issues the certificate (or its
// amendment) through the core, which refuses with a message and issues
// nothing; once issued, its number is shown and its pages can be saved as a
// PDF or previewed and printed.

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "certificate/Certificate.h"

#include <QDialog>

#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class THistoryForm;

class TCertifyDialog : public QDialog {
    Q_OBJECT
public:
    static inline const QString kCommandCaption = QStringLiteral("出具证书");

    // For one archived record; the archive must outlive the dialog (make it the parent's).
    TCertifyDialog(sf6::Archive& archive, const sf6::ArchivedRecord& record, QWidget* parent);
    // An amendment of an issued certificate: its choices to start from, and a reason.
    TCertifyDialog(sf6::Archive& archive, const sf6::StoredCertificate& replaced, QWidget* parent);

    // Adds 出具证书 to the history window: the selected record's dialog, shown modeless.
    static void addCommandTo(THistoryForm* history);

    QLabel* lbLab = nullptr;
    QLabel* lbRelay = nullptr;
    QLabel* lbRecord = nullptr;
    QComboBox* cbStandard = nullptr;
    QLineEdit* edHumidity = nullptr;
    QLineEdit* edTester = nullptr;
    QLineEdit* edChecker = nullptr;
    // Masked; shown once the lab has a signing key (each signer types their own).
    QLineEdit* edTesterPassword = nullptr;
    QLineEdit* edCheckerPassword = nullptr;
    QLineEdit* edApprover = nullptr;
    QComboBox* cbAsFound = nullptr;   // item 0: none
    QLineEdit* edReason = nullptr;    // only for an amendment
    QLabel* lbNumber = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnSavePdf = nullptr;
    QPushButton* btnPreview = nullptr;
    QPushButton* btnCancel = nullptr;

    // What was issued here, once it was.
    const std::optional<sf6::IssuedCertificate>& issuedCertificate() const { return issued_; }
    // The records offered as the test before adjustment, in the picker's order after "无".
    const std::vector<int>& asFoundChoices() const { return asFoundIds_; }

signals:
    void issued(const QString& number);

public slots:
    void btnOKClick();
    void btnSavePdfClick();
    void btnPreviewClick();

private:
    void build();
    void showSources(const sf6::ArchivedRecord& record);
    void fillStandards(const QString& chosen);
    void fillAsFound(const sf6::ArchivedRecord& record, const QString& serial, std::optional<int> chosen);
    sf6::CertifyRequest request() const;
    // Asks about each imported record of the request; false: the user declined.
    bool confirmImported(const sf6::CertifyRequest& rq);

    sf6::Archive& archive_;
    int recordId_ = 0;
    QString testDate_;   // the record's, yyyy-MM-dd
    QString replaced_;   // the number an amendment replaces
    std::vector<QString> standardSerials_;
    std::vector<int> asFoundIds_;
    std::optional<sf6::IssuedCertificate> issued_;
};
