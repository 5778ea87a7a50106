#include "certificate/TBackupForm.h"

#include "archive/ArchiveCopy.h"
#include "base/Clock.h"
#include "ui/Choices.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProgressBar>
#include <QSpinBox>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr QSize kWindowSize{640, 460};
constexpr int kFileColumn = 3;
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

QString sizeText(qint64 bytes)
{
    constexpr double kMiB = 1024.0 * 1024.0;
    return bytes >= kMiB ? QStringLiteral("%1 MB").arg(double(bytes) / kMiB, 0, 'f', 1)
                         : QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
}
} // namespace

TBackupForm::TBackupForm(const sf6::ArchiveLocation& location, QWidget* parent, QString settingsFile)
    : QWidget(parent, Qt::Window), location_(location), settingsFile_(std::move(settingsFile))
{
    setObjectName(QStringLiteral("BackupForm"));
    setWindowTitle(QStringLiteral("存档备份"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(ui::windowFont());
    resize(kWindowSize);

    edFolder = new QLineEdit(this);
    edFolder->setObjectName(QStringLiteral("edFolder"));
    edFolder->setPlaceholderText(QDir::toNativeSeparators(sf6::backupFolder({}, location_)));
    btnChooseFolder = new QPushButton(QStringLiteral("选择…"), this);
    btnChooseFolder->setObjectName(QStringLiteral("btnChooseFolder"));
    seInterval = new QSpinBox(this);
    seInterval->setObjectName(QStringLiteral("seInterval"));
    seInterval->setRange(1, sf6::kMaxBackupIntervalDays);
    seInterval->setSuffix(QStringLiteral(" 天"));
    seKeep = new QSpinBox(this);
    seKeep->setObjectName(QStringLiteral("seKeep"));
    seKeep->setRange(1, sf6::kMaxBackupsKept);
    seKeep->setSuffix(QStringLiteral(" 份"));
    btnSave = new QPushButton(QStringLiteral("保存设置"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnBackupNow = new QPushButton(QStringLiteral("立即备份"), this);
    btnBackupNow->setObjectName(QStringLiteral("btnBackupNow"));
    pbBackup = new QProgressBar(this);
    pbBackup->setObjectName(QStringLiteral("pbBackup"));
    pbBackup->setRange(0, int(sf6::copyOrder().size()));
    pbBackup->setTextVisible(false);
    pbBackup->hide();
    lbState = new QLabel(this);
    lbState->setObjectName(QStringLiteral("lbState"));
    lbState->setWordWrap(true);
    lvBackups = new QTreeWidget(this);
    lvBackups->setObjectName(QStringLiteral("lvBackups"));
    lvBackups->setRootIsDecorated(false);
    lvBackups->setHeaderLabels({QStringLiteral("时间"), QStringLiteral("大小"), QStringLiteral("记录数"), QStringLiteral("文件")});
    lvBackups->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lvBackups->setSelectionMode(QAbstractItemView::SingleSelection);
    btnRestore = new QPushButton(QStringLiteral("用所选备份恢复存档…"), this);
    btnRestore->setObjectName(QStringLiteral("btnRestore"));

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(edFolder, 1);
    folderRow->addWidget(btnChooseFolder);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("备份文件夹"), folderRow);
    form->addRow(QStringLiteral("自动备份间隔"), seInterval);
    form->addRow(QStringLiteral("保留最新的"), seKeep);
    auto* actions = new QHBoxLayout;
    actions->addWidget(btnSave);
    actions->addWidget(btnBackupNow);
    actions->addWidget(pbBackup, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(btnRestore);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(actions);
    layout->addWidget(lbState);
    layout->addWidget(lvBackups, 1);
    layout->addLayout(bottom);

    connect(btnChooseFolder, &QPushButton::clicked, this, &TBackupForm::btnChooseFolderClick);
    connect(btnSave, &QPushButton::clicked, this, &TBackupForm::btnSaveClick);
    connect(btnBackupNow, &QPushButton::clicked, this, &TBackupForm::btnBackupNowClick);
    connect(btnRestore, &QPushButton::clicked, this, &TBackupForm::btnRestoreClick);
    connect(lvBackups, &QTreeWidget::itemSelectionChanged, this, &TBackupForm::lvBackupsSelectionChanged);
    FormCreate();
}

TBackupForm::~TBackupForm()
{
    // The thread's job reports to this window: it ends before the window does.
    if (WorkThread) {
        WorkThread->wait();
        delete WorkThread;
    }
}

void TBackupForm::FormCreate()
{
    const sf6::BackupSettings s = sf6::loadBackupSettings(settingsFile_);
    edFolder->setText(QDir::toNativeSeparators(s.folder));
    seInterval->setValue(int(s.interval.count()));
    seKeep->setValue(s.keep);
    fillList();
}

sf6::BackupSettings TBackupForm::shownSettings() const
{
    sf6::BackupSettings s;
    s.folder = edFolder->text().trimmed().isEmpty() ? QString() : QDir::fromNativeSeparators(edFolder->text().trimmed());
    s.interval = std::chrono::days(seInterval->value());
    s.keep = seKeep->value();
    return s;
}

void TBackupForm::fillList()
{
    lvBackups->clear();
    const QString except = location_.engine == sf6::ArchiveLocation::Engine::SQLite ? location_.path : QString();
    for (const sf6::BackupFile& f : sf6::listBackups(sf6::backupFolder(shownSettings(), location_), except)) {
        auto* item = new QTreeWidgetItem({f.madeAt.toString(kTimeFormat), sizeText(f.size),
                                          f.ours ? QString::number(f.records) : QStringLiteral("不是本程序的备份"),
                                          QDir::toNativeSeparators(f.path)});
        item->setData(kFileColumn, Qt::UserRole, f.path);
        item->setData(0, Qt::UserRole, f.ours);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        lvBackups->addTopLevelItem(item);
    }
    lvBackupsSelectionChanged();
}

void TBackupForm::lvBackupsSelectionChanged()
{
    const QList<QTreeWidgetItem*> chosen = lvBackups->selectedItems();
    btnRestore->setEnabled(!working() && !chosen.isEmpty() && chosen.front()->data(0, Qt::UserRole).toBool());
    btnBackupNow->setEnabled(!working());
}

void TBackupForm::btnChooseFolderClick()
{
    const QString start = edFolder->text().isEmpty() ? edFolder->placeholderText() : edFolder->text();
    const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("备份文件夹"), start);
    if (chosen.isEmpty())
        return;
    edFolder->setText(QDir::toNativeSeparators(chosen));
    fillList();
}

void TBackupForm::btnSaveClick()
{
    if (const sf6::Status s = sf6::saveBackupSettings(shownSettings(), settingsFile_); !s) {
        ui::MessageBoxes::show(s.message(), this);
        return;
    }
    lbState->setText(QStringLiteral("设置已保存"));
    fillList();
}

void TBackupForm::showProgress(const QString& table, qint64 rows)
{
    pbBackup->setValue(std::max(pbBackup->value(), int(sf6::copyOrder().indexOf(table))));
    lbState->setText(QStringLiteral("正在复制%1：%2行").arg(sf6::tableTitle(table)).arg(rows));
}

void TBackupForm::start(std::function<Outcome(const sf6::CopyOptions&)> job)
{
    auto outcome = std::make_shared<Outcome>();
    outcome_ = outcome;
    sf6::CopyOptions options;
    // From the copy's thread to this window's, queued; dropped once the window is gone.
    options.progress = [this](const QString& table, qint64 rows) {
        QMetaObject::invokeMethod(this, [this, table, rows] { showProgress(table, rows); }, Qt::QueuedConnection);
    };
    pbBackup->setValue(0);
    pbBackup->show();
    WorkThread = QThread::create([job = std::move(job), options, outcome] { *outcome = job(options); });
    connect(WorkThread, &QThread::finished, this, &TBackupForm::WorkThreadFinished);
    lvBackupsSelectionChanged();
    btnRestore->setEnabled(false);
    WorkThread->start();
}

void TBackupForm::btnBackupNowClick()
{
    if (working())
        return;
    const sf6::BackupSettings settings = shownSettings();
    const sf6::ArchiveLocation location = location_;
    lbState->setText(QStringLiteral("正在备份…"));
    start([settings, location](const sf6::CopyOptions& options) {
        auto run = sf6::backupIntoFolder(location, settings, sf6::Clock::now(), options);
        if (!run)
            return Outcome{false, run.error()};
        QString text = QStringLiteral("备份已写入 %1").arg(QDir::toNativeSeparators(run->file));
        if (!run->removed.isEmpty())
            text += QStringLiteral("；已删除%1份旧备份").arg(run->removed.size());
        if (!run->notRemoved.isEmpty())
            text += QStringLiteral("；无法删除旧备份：") + run->notRemoved.join(QStringLiteral("、"));
        return Outcome{true, text};
    });
}

void TBackupForm::btnRestoreClick()
{
    const QList<QTreeWidgetItem*> chosen = lvBackups->selectedItems();
    if (working() || chosen.isEmpty())
        return;
    const QString file = chosen.front()->data(kFileColumn, Qt::UserRole).toString();
    const bool ownFile = location_.engine == sf6::ArchiveLocation::Engine::SQLite;
    const QString question =
        QStringLiteral("用 %1 的备份恢复存档 %2？\n").arg(chosen.front()->text(0), location_.display())
        + (ownFile ? QStringLiteral("当前的存档文件会改名保留在原处，不会删除。")
                   : QStringLiteral("目标数据库必须是空的。"));
    if (ui::Choices::choose({QStringLiteral("恢复存档"), question, {}}, this) != 0)
        return;
    if (onReleaseArchive)
        if (const QString why = onReleaseArchive(); !why.isEmpty()) {
            ui::MessageBoxes::show(why, this);
            return;
        }
    const sf6::ArchiveLocation location = location_;
    lbState->setText(QStringLiteral("正在恢复…"));
    start([file, location](const sf6::CopyOptions& options) {
        auto restored = sf6::restoreArchive(file, location, sf6::Clock::now(), options);
        if (!restored)
            return Outcome{false, restored.error(), true};
        QString text = QStringLiteral("已从备份 %1 恢复存档。").arg(QDir::toNativeSeparators(file));
        if (!restored->movedAside.isEmpty())
            text += QStringLiteral("\n原来的存档已改名为 %1").arg(QDir::toNativeSeparators(restored->movedAside));
        return Outcome{true, text, true};
    });
}

void TBackupForm::WorkThreadFinished()
{
    if (!WorkThread)
        return;
    WorkThread->wait();
    delete WorkThread;
    WorkThread = nullptr;
    pbBackup->hide();
    const Outcome outcome = *outcome_;
    lbState->setText(outcome.text);
    fillList();
    // The archive is opened again whatever came of the restore: it was put back if it failed.
    if (outcome.restoring && onArchiveRestored)
        onArchiveRestored();
    if (!outcome.ok || outcome.restoring)
        ui::MessageBoxes::show(outcome.text, this);
    emit finishedWork(outcome.ok);
}

void TBackupForm::closeEvent(QCloseEvent* e)
{
    if (working()) {
        ui::MessageBoxes::show(QStringLiteral("备份或恢复还在进行，完成后才能关闭这个窗口。"), this);
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}
