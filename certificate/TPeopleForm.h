#pragma once
// 工具 → 人员: the lab's signing key and the people who sign certificates,
// with their roles (校验员, 核验员, 批准人). Adding a person, changing roles,
// retiring and a new key need the lab's password; changing one's own
// password needs only one's own. No one is ever deleted: every change is a
// new version. Passwords are asked in masked fields and never kept.

#include "archive/Archive.h"
#include "certificate/People.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TPeopleForm : public QWidget {
    Q_OBJECT
public:
    // Opens its own connection to the archive; nullptr (and a message) when it cannot.
    static TPeopleForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    static inline const QString kNoLabKey = QStringLiteral("实验室还没有签名密钥");
    static inline const QString kActive = QStringLiteral("在用");
    static inline const QString kRetired = QStringLiteral("已停用");
    static inline const QString kPasswordsDiffer = QStringLiteral("两次输入的密码不一致，未保存");
    static constexpr int kStateColumn = 2;
    static constexpr int kFingerprintColumn = 5;

    QLabel* lbLabKey = nullptr;
    QPushButton* btnCreateKey = nullptr;
    QPushButton* btnImportKey = nullptr;
    QPushButton* btnExportCertificate = nullptr;
    QTableWidget* PeopleGrid = nullptr;
    QLineEdit* edName = nullptr;
    QCheckBox* cbTester = nullptr;
    QCheckBox* cbChecker = nullptr;
    QCheckBox* cbApprover = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnRetire = nullptr;
    QPushButton* btnNewKey = nullptr;
    QPushButton* btnPassword = nullptr;

    sf6::Archive& archive() { return *archive_; }
    const std::vector<sf6::PersonVersion>& people() const { return people_; }

public slots:
    void FormCreate();
    void PeopleGridClick(int row);
    void btnCreateKeyClick();
    void btnImportKeyClick();
    void btnExportCertificateClick();
    void btnAddClick();
    void btnSaveClick();
    void btnRetireClick();
    void btnNewKeyClick();
    void btnPasswordClick();

private:
    TPeopleForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    QStringList checkedRoles() const;
    const sf6::PersonVersion* shownPerson() const;   // the one named in edName, if listed
    std::optional<QString> askPassword(const QString& title, const QString& label);
    // Asked twice; nullopt when cancelled or the two differ (said so).
    std::optional<QString> askNewPassword(const QString& title, const QString& name);
    void saved(const sf6::Expected<sf6::PersonVersion>& result);
    bool refusedBeforePasswords(const sf6::PersonChange& change);
    void saveWithLabPassword(sf6::PersonChange change, const QString& title, const QString& newKeyFor = {});
    void labKeySaved(const sf6::Expected<sf6::LabKey>& made);

    std::shared_ptr<sf6::Archive> archive_;
    std::vector<sf6::PersonVersion> people_;
    bool hasLabKey_ = false;
};
