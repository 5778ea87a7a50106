#pragma once
// 工具 → 存档备份…: where the automatic backups go, how often, how many are
// kept; a backup now (on a thread of its own, with its progress); the backups
// in the folder with their times, sizes and records; and a restore from one.

#include "certificate/BackupPlan.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QThread;
class QTreeWidget;

class TBackupForm : public QWidget {
    Q_OBJECT
public:
    // Holds no connection to the archive: a backup opens its own on its thread.
    explicit TBackupForm(const sf6::ArchiveLocation& location, QWidget* parent = nullptr,
                         QString settingsFile = sf6::backupSettingsFile());
    ~TBackupForm() override;

    QLineEdit* edFolder = nullptr;
    QPushButton* btnChooseFolder = nullptr;
    QSpinBox* seInterval = nullptr;   // days
    QSpinBox* seKeep = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnBackupNow = nullptr;
    QProgressBar* pbBackup = nullptr;
    QLabel* lbState = nullptr;
    QTreeWidget* lvBackups = nullptr;   // 时间, 大小, 记录数, 文件
    QPushButton* btnRestore = nullptr;
    QThread* WorkThread = nullptr;

    // A restore over the archive: the main window lets go of the archive
    // first (an empty text) or says why it cannot, and opens it again after.
    std::function<QString()> onReleaseArchive;
    std::function<void()> onArchiveRestored;

    bool working() const { return WorkThread != nullptr; }
    // The settings as the fields give them.
    sf6::BackupSettings shownSettings() const;

public slots:
    void FormCreate();
    void btnChooseFolderClick();
    void btnSaveClick();
    void btnBackupNowClick();
    void btnRestoreClick();
    void lvBackupsSelectionChanged();
    void WorkThreadFinished();

signals:
    void finishedWork(bool ok);   // a backup or a restore has ended

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    struct Outcome {
        bool ok = false;
        QString text;
        bool restoring = false;
    };
    void fillList();
    void start(std::function<Outcome(const sf6::CopyOptions&)> job);
    void showProgress(const QString& table, qint64 rows);

    sf6::ArchiveLocation location_;
    QString settingsFile_;
    std::shared_ptr<Outcome> outcome_;
};
