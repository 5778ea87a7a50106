#pragma once
// 工具 → 证书: every certificate issued, with its record, relay, verdict,
// signers and state (未批准, 已批准, 已替代). From the selected one: 批准
// (the approver's name asked), 替代… (an amendment issued with a reason),
// 预览/打印 and 保存PDF of exactly what was issued. The list is read again
// after each and whenever the window comes to the front.

#include "archive/Archive.h"
#include "certificate/Certificate.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QPushButton;
class QTableWidget;
class TCertifyDialog;

class TCertificatesForm : public QWidget {
    Q_OBJECT
public:
    // Opens its own connection to the archive; nullptr (and a message) when it cannot.
    static TCertificatesForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    static constexpr int kNumberColumn = 0;
    static constexpr int kStateColumn = 9;

    QTableWidget* CertificateGrid = nullptr;
    QPushButton* btnApprove = nullptr;
    QPushButton* btnAmend = nullptr;
    QPushButton* btnPreview = nullptr;
    QPushButton* btnSavePdf = nullptr;

    sf6::Archive& archive() { return *archive_; }
    const std::vector<sf6::CertificateListing>& certificates() const { return listings_; }
    // Selects the row of that number; false when it is not listed.
    bool selectNumber(const QString& number);

signals:
    void amendmentOpened(TCertifyDialog* dialog);

public slots:
    void FormCreate();
    void CertificateGridSelect();
    void btnApproveClick();
    void btnAmendClick();
    void btnPreviewClick();
    void btnSavePdfClick();

protected:
    void changeEvent(QEvent* e) override;

private:
    TCertificatesForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    void fill(bool tellFailure);
    QString selectedNumber() const;
    // The selected certificate as stored; nullopt (and a message) when none.
    std::optional<sf6::StoredCertificate> selectedCertificate();

    std::shared_ptr<sf6::Archive> archive_;
    std::vector<sf6::CertificateListing> listings_;
};
