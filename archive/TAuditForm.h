#pragma once
// The window "审计记录": every change the archive holds on its audit trail,
// newest first, read-only. It reads the trail afresh each time it is shown.

#include "archive/Archive.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPlainTextEdit;
class QTableView;

namespace sf6 {
class AuditModel;
}

class TAuditForm : public QWidget {
    Q_OBJECT
public:
    // Shares the process's connection to the archive; nullptr (and a message) when it cannot.
    static TAuditForm* open(const sf6::ArchiveLocation& location, QWidget* parent = nullptr);

    QTableView* AuditGrid = nullptr;
    sf6::AuditModel* Model = nullptr;
    QLabel* lbCount = nullptr;
    QPlainTextEdit* mmDetail = nullptr;   // the selected change whole: the columns cut long values

    // Shows the selected change in the detail pane.
    void AuditGridCurrentChanged();

    // Reads the trail again; a failure is said in a message.
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TAuditForm(std::shared_ptr<sf6::Archive> archive, QWidget* parent);
    void sizeColumns();
    std::shared_ptr<sf6::Archive> archive_;
};
