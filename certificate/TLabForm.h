#pragma once
// 工具 → 实验室信息: the lab that issues certificates, its name (校验单位),
// address, phone, accreditation number and the certificate-number prefix.
// Every save is a new version; the window shows which one is current.

#include "archive/Archive.h"
#include "certificate/Certificate.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class TLabForm : public QWidget {
    Q_OBJECT
public:
    // Opens its own connection to the archive; nullptr (and a message) when it cannot.
    static TLabForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    QLineEdit* edName = nullptr;
    QLineEdit* edAddress = nullptr;
    QLineEdit* edPhone = nullptr;
    QLineEdit* edAccreditation = nullptr;
    QLineEdit* edPrefix = nullptr;
    QLineEdit* edVerificationAddress = nullptr;
    QComboBox* cbDecisionRule = nullptr;   // 简单接受 or 保护带
    QLabel* lbVersion = nullptr;
    QPushButton* btnSave = nullptr;

    sf6::Archive& archive() { return *archive_; }

public slots:
    void FormCreate();
    void btnSaveClick();

private:
    TLabForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    void showLab(const std::optional<sf6::LabProfile>& lab);

    std::shared_ptr<sf6::Archive> archive_;
    sf6::LabProfile shown_;   // the profile as the fields were filled from it
};
