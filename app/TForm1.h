#pragma once
// The main window: every command, the record list, the side panel and the status bar.

#include "app/CommandStates.h"
#include "archive/Archive.h"
#include "archive/ArchiveStore.h"
#include "certificate/BackupPlan.h"
#include "report/ReportPage.h"
#include "app/StatusBar.h"
#include "link/PortScan.h"
#include "link/SerialLink.h"
#include "sync/SyncSession.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <chrono>
#include <optional>
#include <vector>

namespace sf6 {
class SidePanel;
}
class TForm2;
class THistoryForm;
class TRelayRegisterForm;
class TAuditForm;
class TForm3;
class TBackupForm;
class TPeopleForm;
class QThread;

// The record list: a click anywhere (an empty area drops the selection) and a
// double click anywhere are reported, as the original list did.
class TListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);

signals:
    void listClicked();
    void listDoubleClicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
};

// Pop-up menu of the list; AutoPopup off means a right click shows nothing.
class TPopupMenu : public QMenu {
    Q_OBJECT
public:
    using QMenu::QMenu;
    bool AutoPopup = false;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kOuterWidth = 928;
    static constexpr int kOuterHeight = 654;
    static constexpr int kToolBarHeight = 54;
    static constexpr QSize kToolButtonSize{55, 52};
    static constexpr std::chrono::milliseconds kSpinnerTick{100};
    static constexpr int kSpinnerEndMs = 1000;
    static constexpr std::chrono::milliseconds kPollPeriod{1000};
    static constexpr std::chrono::milliseconds kFrameWatchTick{50};
    static constexpr int kFrameWatchTicks = 40;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Menus and commands.
    QMenu* F1 = nullptr;
    QMenu* N5 = nullptr;
    QMenu* N9 = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    QAction* N4 = nullptr;
    QAction* N6 = nullptr;
    QAction* N7 = nullptr;
    QAction* N8 = nullptr;
    QAction* N14 = nullptr;   // separator
    QAction* N15 = nullptr;   // 历史记录
    QAction* N16 = nullptr;   // 继电器台账
    QAction* N17 = nullptr;   // 导入数据…
    QAction* N18 = nullptr;   // 实验室信息
    QAction* N19 = nullptr;   // 标准器
    QAction* N20 = nullptr;   // 证书
    QAction* N21 = nullptr;   // 审计记录
    QAction* N22 = nullptr;   // SF6压力换算
    QAction* N23 = nullptr;   // 核对证书PDF…
    QAction* N24 = nullptr;   // 存档备份…
    QAction* N25 = nullptr;   // 人员…
    QAction* A1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QAction* ToolButton1 = nullptr;
    QAction* ToolButton2 = nullptr;
    QAction* ToolButton3 = nullptr;
    QAction* ToolButton4 = nullptr;
    QAction* ToolButton5 = nullptr;   // 历史记录
    QList<QIcon> ImageList1;
    TPopupMenu* PopupMenu1 = nullptr;
    QAction* N11 = nullptr;
    QAction* N12 = nullptr;
    QAction* N13 = nullptr;

    // Contents.
    TListView* ListView1 = nullptr;
    sf6::SidePanel* Panel1 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    // Which records of the last sync disagree with the SF6 equation; closed by the user.
    QMessageBox* P20Notice = nullptr;
    QComboBox* cbxComlist = nullptr;
    QPushButton* Connection = nullptr;
    QPushButton* AddDBGrid = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer3 = nullptr;

    // The serial link and the process-wide state shared by the handlers.
    sf6::SerialLink MSComm1;
    sf6::PortScanner Scanner1;   // tries the ports off the window's thread
    int ConnectAnimationMs = 0;
    int Connected = 0;
    sf6::SyncSession Sync{MSComm1};
    QString SaveDialog1FileName;   // the export's save dialog remembers its last name
    QDate SyncDate;                // when the rows in the list were synced: the export's proposed name

    sf6::CommandState commandState() const { return state_; }
    QAction* commandAction(sf6::Command c) const;
    std::optional<sf6::ListRow> selectedRow() const;   // the texts of the selected row
    bool commandEnabled(sf6::Command c) const;
    std::vector<TForm2*> aboutBoxes() const;

    // The archive: where it is (off unless set), and the number of the
    // archived record behind a list row (0: not archived).
    static constexpr int kArchiveIdRole = Qt::UserRole + 1;
    void setArchiveLocation(const sf6::ArchiveLocation& location);
    const sf6::ArchiveLocation& archiveLocation() const { return archiveLocation_; }
    sf6::Archive* archive() const { return archive_.get(); }
    int archiveNumber(const QTreeWidgetItem* item) const;

    // At start: a backup into the backup folder when the newest there is
    // older than the interval, the oldest of its own beyond the number kept
    // removed; on a thread of its own with its own connection. The status
    // bar says when, or once why it could not.
    void startAutomaticBackup(const sf6::BackupSettings& settings);
    bool backupRunning() const { return BackupThread != nullptr; }
    QThread* BackupThread = nullptr;

    QString panelText(int i) const { return StatusBar1->panelText(i); }
    void setPanelText(int i, const QString& t) { StatusBar1->setPanelText(i, t); }

public slots:
    void FormCreate();
    void FormDestroy();
    void FormActivate();

    void N1Click();
    void N2Click();
    void N3Click();
    void N4Click();
    void N6Click();
    void N7Click();
    void N8Click();
    void A1Click();
    void ToolButton1Click() { N6Click(); }
    void ToolButton2Click() { N8Click(); }
    void ToolButton3Click() { N1Click(); }
    void ToolButton4Click() { N2Click(); }
    void ToolButton5Click() { N15Click(); }
    void N15Click();
    void N16Click();
    void N17Click();
    void N18Click();
    void N19Click();
    void N20Click();
    void N21Click();
    void N22Click();
    void N23Click();
    void N24Click();
    void N25Click();
    void BackupThreadFinished();
    void N11Click() { N1Click(); }
    void N12Click() { N2Click(); }
    void N13Click() { N3Click(); }
    void ListView1Click();
    void ListView1DblClick() { N1Click(); }
    void ListView1ContextPopup(const QPoint& pos);

    void Timer1Timer();
    void ConnectionClick();
    void Scanner1Trying(const QString& port);
    void Scanner1Finished(const sf6::ScanResult& result);
    void Timer3Timer();
    void AddDBGridClick();
    void StatusBar1Resize();

    void LinkLost();
    void FileSaved(const QString& file);   // any window saved a file: the status bar says where

    // The demo's calibrator is simulated: the status bar says so for as long as the window is open.
    void markAsDemo();

signals:
    void closed();   // the program ends with its main window, open dialogs or not
    void historyOpened(THistoryForm* history);
    void registerOpened(TRelayRegisterForm* form);
    void auditOpened(TAuditForm* form);
    void backupOpened(TBackupForm* form);
    void peopleOpened(TPeopleForm* form);
    void trendOpened(QWidget* trend);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildMenus();
    void showP20Notice();
    void buildToolBar();
    void buildList();
    void enterState(sf6::CommandState s);
    void repaintIndicator();
    void endSync();
    void noteSilence();
    void reportLinkLost(const QString& reason);
    bool openArchive(bool tellUser);
    void archiveSync(sf6::SyncEnd end);
    // The archive's part in a report dialog: its starting details (the record's
    // latest report's, for the history), keeping, judging, the register's picker.
    void prepareReportDialog(TForm3* dialog, std::function<sf6::Archive*()> archive, bool fromLatestReport);
    void linkToRelay(THistoryForm* history, const std::vector<sf6::ArchivedRecord>& records);
    void unlinkFromRelay(THistoryForm* history, const std::vector<sf6::ArchivedRecord>& records);
    void openTrend(sf6::Archive& archive, const QString& serial, QWidget* parent);
    bool syncing() const { return state_ == sf6::CommandState::Syncing; }

    sf6::CommandState state_ = sf6::CommandState::Idle;
    void placeOuterFrame();
    sf6::ArchiveLocation archiveLocation_;
    std::shared_ptr<sf6::Archive> archive_;   // shared with the history and register windows
    QString archiveProblemShown_;   // a problem is told once
    std::optional<QSize> placedFrame_;   // the frame the outer size was last worked out with
    bool frameKnown_ = false;
    bool destroyed_ = false;
    // What the automatic backup's thread came back with.
    std::shared_ptr<std::optional<sf6::Expected<sf6::BackupRun>>> backupResult_;
    void releaseArchive();
};
