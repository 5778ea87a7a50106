#include "app/TForm1.h"

#include "base/Clock.h"
#include "ui/FileDialogs.h"
#include "app/Icons.h"
#include "ui/Fonts.h"
#include "ui/MessageBox.h"
#include "app/TForm2.h"
#include "export/ListView2Excel.h"
#include "export/Workbook.h"
#include "import/TImportDialog.h"
#include "link/PortScan.h"
#include "ops/Certificates.h"
#include "ops/Imports.h"
#include "ops/Links.h"
#include "ops/PdfCheck.h"
#include "ops/People.h"
#include "ops/Reports.h"
#include "ops/Syncs.h"
#include "report/TForm3.h"
#include "sync/Columns.h"
#include "archive/ArchiveStore.h"
#include "archive/TAuditForm.h"
#include "archive/THistoryForm.h"
#include "certificate/CertificatePrint.h"
#include "certificate/TBackupForm.h"
#include "certificate/TCertificatesForm.h"
#include "certificate/TCertifyDialog.h"
#include "certificate/TLabForm.h"
#include "certificate/TPeopleForm.h"
#include "certificate/TStandardsForm.h"
#include "register/JudgedReport.h"
#include "register/P20Check.h"
#include "register/TPressureForm.h"
#include "register/TRelayRegisterForm.h"
#include "register/TTrendForm.h"
#include "ui/Choices.h"
#include "view/SidePanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <QToolButton>
#include <memory>

using sf6::Command;
using sf6::CommandState;

namespace {
const QString kSpinnerBase = QStringLiteral("开始联机...");
const QString kProgramName = QStringLiteral("sf6companion");
constexpr int kScrollStep = 200;
} // namespace

// ---------------------------------------------------------------------------

TListView::TListView(QWidget* parent) : QTreeWidget(parent) {}

void TListView::mousePressEvent(QMouseEvent* e)
{
    // A click below the rows leaves no row selected, as the user expects.
    if (e->button() == Qt::LeftButton && !itemAt(e->position().toPoint())) {
        clearSelection();
        setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    }
    QTreeWidget::mousePressEvent(e);
}

void TListView::mouseReleaseEvent(QMouseEvent* e)
{
    QTreeWidget::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton)
        emit listClicked();
}

void TListView::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && !itemAt(e->position().toPoint()))
        clearSelection();
    QTreeWidget::mouseDoubleClickEvent(e);
    if (e->button() == Qt::LeftButton)
        emit listDoubleClicked();
}

// ---------------------------------------------------------------------------

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("vizAZ6izuzivevovedod"));
    setFont(ui::windowFont());
    setBackgroundRole(QPalette::Button);
    // The certificate windows issue, amend and approve through the operations layer.
    sf6::setCertificateActions(sf6::ops::certificateActions());
    // 工具 → 人员 keeps the lab's key and the people through the same operations as sf6cli.
    sf6::setPeopleActions({sf6::ops::createLabKey, sf6::ops::importLabKey, sf6::ops::exportLabCertificate,
                           sf6::ops::savePerson, sf6::ops::changePassword, sf6::ops::listPeople});

    buildMenus();
    buildToolBar();

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildList();
    layout->addWidget(ListView1, 1);
    Panel1 = new sf6::SidePanel(central);
    layout->addWidget(Panel1);
    setCentralWidget(central);

    // Hidden helpers of the original window: the port list, the scan button under
    // the list, and the decode button.
    cbxComlist = new QComboBox(central);
    cbxComlist->hide();
    Connection = new QPushButton(QStringLiteral("Connection"), central);
    Connection->setGeometry(8, 8, 33, 25);
    Connection->hide();
    connect(Connection, &QPushButton::clicked, this, &TForm1::ConnectionClick);
    AddDBGrid = new QPushButton(central);
    AddDBGrid->hide();
    connect(AddDBGrid, &QPushButton::clicked, this, &TForm1::AddDBGridClick);

    StatusBar1 = new TStatusBar(this);
    StatusBar1->setConnectedSource([this] { return Connected != 0; });
    setStatusBar(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(kSpinnerTick);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer3 = new QTimer(this);
    Timer3->setInterval(kPollPeriod);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);

    connect(&MSComm1, &sf6::SerialLink::linkLost, this, &TForm1::LinkLost);
    connect(&Scanner1, &sf6::PortScanner::trying, this, &TForm1::Scanner1Trying);
    connect(&Scanner1, &sf6::PortScanner::finished, this, &TForm1::Scanner1Finished);
    connect(&ui::SavedFiles::instance(), &ui::SavedFiles::saved, this, &TForm1::FileSaved);

    resize(kOuterWidth, kOuterHeight);
    FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::buildMenus()
{
    F1 = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    N1 = F1->addAction(QStringLiteral("生成报表(&B)"), this, &TForm1::N1Click);
    N2 = F1->addAction(QStringLiteral("导出数据(&E)"), this, &TForm1::N2Click);
    N3 = F1->addAction(QStringLiteral("删除(&Y)"), this, &TForm1::N3Click);
    N4 = F1->addAction(QStringLiteral("退出(&X)"), this, &TForm1::N4Click);
    N5 = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    N6 = N5->addAction(QStringLiteral("通信连接(&C)"), this, &TForm1::N6Click);
    N7 = N5->addAction(QStringLiteral("断开连接(&D)"), this, &TForm1::N7Click);
    N8 = N5->addAction(QStringLiteral("数据同步(&S)"), this, &TForm1::N8Click);
    N14 = N5->addSeparator();
    N15 = N5->addAction(QStringLiteral("历史记录(&R)"), this, &TForm1::N15Click);
    N16 = N5->addAction(QStringLiteral("继电器台账(&L)"), this, &TForm1::N16Click);
    N17 = N5->addAction(QStringLiteral("导入数据(&I)…"), this, &TForm1::N17Click);
    N18 = N5->addAction(QStringLiteral("实验室信息(&A)"), this, &TForm1::N18Click);
    N19 = N5->addAction(QStringLiteral("标准器(&N)"), this, &TForm1::N19Click);
    N20 = N5->addAction(QStringLiteral("证书(&E)"), this, &TForm1::N20Click);
    N21 = N5->addAction(QStringLiteral("审计记录(&U)"), this, &TForm1::N21Click);
    N22 = N5->addAction(QStringLiteral("SF6压力换算(&P)"), this, &TForm1::N22Click);
    N23 = N5->addAction(QStringLiteral("核对证书PDF(&V)…"), this, &TForm1::N23Click);
    N24 = N5->addAction(QStringLiteral("存档备份(&K)…"), this, &TForm1::N24Click);
    N25 = N5->addAction(QStringLiteral("人员(&O)…"), this, &TForm1::N25Click);
    N9 = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    A1 = N9->addAction(QStringLiteral("关于(&A)"), this, &TForm1::A1Click);
    for (auto [a, n] : {std::pair{N1, "N1"}, {N2, "N2"}, {N3, "N3"}, {N4, "N4"}, {N6, "N6"}, {N7, "N7"},
                        {N8, "N8"}, {N14, "N14"}, {N15, "N15"}, {N16, "N16"}, {N17, "N17"}, {N18, "N18"}, {N19, "N19"}, {N20, "N20"}, {N21, "N21"}, {N22, "N22"}, {N23, "N23"}, {N24, "N24"}, {N25, "N25"},
                        {A1, "A1"}})
        a->setObjectName(QLatin1String(n));

    PopupMenu1 = new TPopupMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N11 = PopupMenu1->addAction(QStringLiteral("生成报表(&B)"), this, &TForm1::N11Click);
    N12 = PopupMenu1->addAction(QStringLiteral("导出数据(&E)"), this, &TForm1::N12Click);
    N13 = PopupMenu1->addAction(QStringLiteral("删除(&Y)"), this, &TForm1::N13Click);
}

void TForm1::buildToolBar()
{
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(32, 32));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setFixedHeight(kToolBarHeight);
    // No padding around the 52-pixel buttons, or the bar cuts them at the bottom.
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { padding: 0px; margin: 0px; border: 0px; spacing: 0px; }"));
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ImageList1 = makeToolbarImages();

    auto add = [this](const QString& caption, int image, void (TForm1::*slot)(), const char* name) {
        QAction* a = ToolBar1->addAction(ImageList1[image], caption, this, slot);
        a->setObjectName(QLatin1String(name));
        if (auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(a))) {
            b->setFixedSize(kToolButtonSize);
            b->setAutoRaise(true);
            b->installEventFilter(this);   // the caption under the image says it all: no hints
        }
        return a;
    };
    ToolButton1 = add(QStringLiteral("通信连接"), 0, &TForm1::ToolButton1Click, "ToolButton1");
    ToolButton2 = add(QStringLiteral("数据同步"), 1, &TForm1::ToolButton2Click, "ToolButton2");
    ToolButton3 = add(QStringLiteral("生成报表"), 2, &TForm1::ToolButton3Click, "ToolButton3");
    ToolButton4 = add(QStringLiteral("导出数据"), 3, &TForm1::ToolButton4Click, "ToolButton4");
    ToolButton5 = add(QStringLiteral("历史记录"), 4, &TForm1::ToolButton5Click, "ToolButton5");
}

void TForm1::buildList()
{
    ListView1 = new TListView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setFont(ui::windowFont());   // a style sheet would otherwise leave it the platform's
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setItemsExpandable(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    // Grid lines between cells; a selected row stays readable when the window is inactive.
    ListView1->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"
        "QTreeView::item:selected { background: #3874d8; color: white; }"));

    const QStringList& captions = sf6::columnCaptions();
    ListView1->setColumnCount(sf6::kColumnCount);
    auto* header = new QTreeWidgetItem;
    for (int c = 0; c < sf6::kColumnCount; ++c) {
        header->setText(c, captions[c]);
        header->setTextAlignment(c, c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    }
    ListView1->setHeaderItem(header);
    for (int c = 0; c < sf6::kColumnCount; ++c)
        ListView1->setColumnWidth(c, sf6::defaultColumnWidth(c));

    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, &TForm1::ListView1ContextPopup);
    connect(ListView1, &TListView::listClicked, this, &TForm1::ListView1Click);
    connect(ListView1, &TListView::listDoubleClicked, this, &TForm1::ListView1DblClick);
}

// ---------------------------------------------------------------------------
// Window life

void TForm1::FormCreate()
{
    cbxComlist->clear();
    enterState(CommandState::Idle);
    FormActivate();
}

void TForm1::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    Scanner1.cancel();
    Timer1->stop();
    Timer3->stop();
    if (MSComm1.IsOpen())
        MSComm1.Close();
    // The backup's thread holds its own connection: it ends before the program does.
    if (BackupThread) {
        BackupThread->wait();
        delete BackupThread;
        BackupThread = nullptr;
    }
}

void TForm1::FormActivate() { Panel1->clearValues(); }

void TForm1::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (placedFrame_)
        return;
    placeOuterFrame();
    // The outer size includes the frame, which a window manager reports only
    // some time after it has decorated the window: look again until it has.
    auto* watch = new QTimer(this);
    watch->setInterval(kFrameWatchTick);
    connect(watch, &QTimer::timeout, this, [this, watch, ticks = 0]() mutable {
        placeOuterFrame();
        if (frameKnown_ || ++ticks == kFrameWatchTicks)
            watch->deleteLater();
    });
    watch->start();
}

void TForm1::placeOuterFrame()
{
    if (!isVisible() || frameKnown_)
        return;
    const QSize frame = frameGeometry().size() - geometry().size();
    if (placedFrame_ && *placedFrame_ == frame)
        return;
    placedFrame_ = frame;
    frameKnown_ = !frame.isEmpty();
    resize(QSize(kOuterWidth, kOuterHeight) - frame);
    if (const QScreen* s = screen()) {
        QRect r(QPoint(), QSize(kOuterWidth, kOuterHeight));
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
}

void TForm1::closeEvent(QCloseEvent* e)
{
    FormDestroy();
    QMainWindow::closeEvent(e);
    emit closed();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::ToolTip)
        return true;
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::FileSaved(const QString& file) { setPanelText(1, ui::SavedFiles::text(file)); }

void TForm1::markAsDemo() { StatusBar1->showDemoNote(); }

// Kept as the handler the window is designed with; panel 1 is laid out to
// stretch with the window, so nothing calls it.
void TForm1::StatusBar1Resize() {}

// ---------------------------------------------------------------------------
// Command states

QAction* TForm1::commandAction(Command c) const
{
    switch (c) {
    case Command::N1: return N1;
    case Command::N2: return N2;
    case Command::N3: return N3;
    case Command::N4: return N4;
    case Command::N6: return N6;
    case Command::N7: return N7;
    case Command::N8: return N8;
    case Command::TB1: return ToolButton1;
    case Command::TB2: return ToolButton2;
    case Command::TB3: return ToolButton3;
    case Command::TB4: return ToolButton4;
    case Command::AP: return nullptr;
    }
    return nullptr;
}

bool TForm1::commandEnabled(Command c) const
{
    if (c == Command::AP)
        return PopupMenu1->AutoPopup;
    return commandAction(c)->isEnabled();
}

void TForm1::enterState(CommandState s)
{
    state_ = s;
    sf6::applyCommandState(s, [this](Command c, bool on) {
        if (c == Command::AP)
            PopupMenu1->AutoPopup = on;
        else
            commandAction(c)->setEnabled(on);
    });
}

void TForm1::repaintIndicator() { StatusBar1->panel(0)->repaint(); }

std::vector<TForm2*> TForm1::aboutBoxes() const
{
    const auto list = findChildren<TForm2*>(QString(), Qt::FindDirectChildrenOnly);
    return {list.begin(), list.end()};
}

// ---------------------------------------------------------------------------
// Connect and disconnect

void TForm1::N6Click()
{
    ConnectAnimationMs = 0;
    Timer1->start();
    Connected = 0;
    repaintIndicator();
    setPanelText(2, QString());
    setPanelText(3, QString());
    ListView1->clear();
    FormActivate();
    enterState(CommandState::Connecting);
}

void TForm1::Timer1Timer()
{
    static const QChar kSpinner[3] = {QLatin1Char('-'), QLatin1Char('\\'), QLatin1Char('/')};
    setPanelText(1, kSpinnerBase + kSpinner[ConnectAnimationMs % 3]);
    ConnectAnimationMs += int(kSpinnerTick.count());
    if (ConnectAnimationMs == kSpinnerEndMs) {
        Timer1->stop();
        ConnectionClick();
    }
}

void TForm1::ConnectionClick()
{
    if (ConnectAnimationMs != kSpinnerEndMs)
        return;
    StatusBar1->repaint();
    if (MSComm1.IsOpen())
        MSComm1.Close();
    const QStringList names = sf6::portsToScan();
    cbxComlist->clear();
    cbxComlist->addItems(names);
    if (names.isEmpty()) {
        ui::MessageBoxes::show(sf6::kTextNoPorts, this);
        Timer1->stop();
        enterState(CommandState::NoPorts);
        return;
    }
    // A re-run from the Connection button while connected keeps its commands.
    if (Connected == 0)
        enterState(CommandState::Scanning);
    Scanner1.start(names);
}

void TForm1::Scanner1Trying(const QString& port) { setPanelText(2, sf6::kTextTryingPort.arg(port)); }

void TForm1::Scanner1Finished(const sf6::ScanResult& result)
{
    sf6::ScanResult r = result;
    sf6::openFoundPort(MSComm1, r);
    // The scan is over: the outcome's commands are switched from the connect's own state.
    if (state_ == CommandState::Scanning)
        enterState(CommandState::Connecting);
    using O = sf6::ScanResult::Outcome;
    switch (r.outcome) {
    case O::Cancelled:
        return;
    case O::NoPorts:
        ui::MessageBoxes::show(sf6::kTextNoPorts, this);
        Timer1->stop();
        enterState(CommandState::NoPorts);
        return;
    case O::Found:
        setPanelText(1, sf6::kTextConnected);
        setPanelText(2, sf6::kTextPortKindPrefix + r.kind);
        Connected = 1;
        repaintIndicator();
        enterState(CommandState::Online);
        return;
    case O::NoAnswer:
        if (Connected == 1)
            return;   // re-run from the Connection button while connected
        [[fallthrough]];
    case O::Error:
        setPanelText(1, sf6::kTextConnectFailedPanel);
        setPanelText(2, QString());   // no port is being tried any more
        ui::Message m{sf6::kTextConnectFailed};
        m.details = r.refusalDetails();
        ui::MessageBoxes::show(m, this);
        enterState(CommandState::ConnectFailed);
        return;
    }
}

void TForm1::N7Click()
{
    Scanner1.cancel();   // a scan still trying ports ends here
    if (MSComm1.IsOpen())
        MSComm1.Close();
    setPanelText(1, sf6::kTextLinkLost);
    setPanelText(2, QString());
    setPanelText(3, QString());
    Connected = 0;
    repaintIndicator();
    FormActivate();
    ListView1->clear();
    enterState(CommandState::Disconnected);
}

void TForm1::LinkLost()
{
    // The sync takes a loss itself, in the poll that meets it; this is the loss
    // of a connection sitting online.
    if (syncing())
        return;
    const auto reason = MSComm1.takeLostError();
    if (!reason || Connected == 0)
        return;   // already handled, or a port tried during a scan
    reportLinkLost(*reason);
}

void TForm1::reportLinkLost(const QString& reason)
{
    const bool wasSyncing = syncing();
    if (wasSyncing)
        endSync();
    Connected = 0;
    repaintIndicator();
    setPanelText(1, sf6::kTextLinkLost);
    setPanelText(2, QString());   // the port is gone, as after a disconnect; panel 3 keeps the count
    const bool rows = wasSyncing ? Sync.loop().RowsLoaded() > 0 : ListView1->topLevelItemCount() > 0;
    if (wasSyncing && rows)
        ListView1Click();   // the last record received, as a completed sync shows it
    enterState(rows ? CommandState::LinkLostWithRows : CommandState::LinkLost);
    ui::MessageBoxes::show(ui::Message{Sync.endMessage(sf6::SyncEnd::LinkLost, reason)}, this);
}

// ---------------------------------------------------------------------------
// Sync

void TForm1::N8Click()
{
    setPanelText(1, sf6::kTextSyncStart);
    setPanelText(3, QString());
    setPanelText(TStatusBar::kArchivePanel, QString());   // the last sync's count is not this one's
    FormActivate();
    if (!Sync.begin()) {
        ui::MessageBoxes::show(sf6::kTextNotConnected, this);
        return;
    }
    ListView1->clear();
    SyncDate = sf6::Clock::today();
    enterState(CommandState::Syncing);
    StatusBar1->showProgress(0, 0);
    Sync.waitFirstPoll();
    Timer3Timer();
}

void TForm1::noteSilence()
{
    // Not a byte: the instrument is off or gone though the port stays open.
    // The indicator says so; a sync can still be tried again on the port.
    if (Sync.loop().BytesReceived() > 0)
        return;
    Connected = 0;
    repaintIndicator();
}

void TForm1::endSync()
{
    Timer3->stop();
    StatusBar1->hideProgress();
}

void TForm1::Timer3Timer()
{
    const sf6::SyncStep step = Sync.poll();
    if (step.receivedBytes)
        AddDBGridClick();
    if (!step.end) {
        if (!Timer3->isActive())
            Timer3->start();
        return;
    }
    // Whatever came is kept, however the sync ended.
    archiveSync(*step.end);
    if (Sync.loop().BytesReceived() > 0 && MSComm1.IsOpen() && Connected == 0) {
        Connected = 1;   // answered again after a silent sync
        repaintIndicator();
    }
    switch (*step.end) {
    case sf6::SyncEnd::Complete:
        endSync();
        ListView1Click();
        setPanelText(1, sf6::SyncSession::endPanelText(sf6::SyncEnd::Complete));
        enterState(CommandState::SyncDone);
        showP20Notice();
        if (step.linkLost)
            reportLinkLost(step.lostReason);
        return;
    case sf6::SyncEnd::LinkLost:
        // The rows that came before the loss stay; the loss is reported once.
        reportLinkLost(step.lostReason);
        return;
    case sf6::SyncEnd::Empty:
        endSync();
        noteSilence();
        setPanelText(1, sf6::SyncSession::endPanelText(sf6::SyncEnd::Empty));
        setPanelText(3, Sync.progressText());
        // The message first, then the commands: the user reads before acting.
        ui::MessageBoxes::show(Sync.endMessage(sf6::SyncEnd::Empty), this);
        enterState(CommandState::SyncEmpty);
        return;
    case sf6::SyncEnd::Stalled:
        endSync();
        if (Sync.loop().RowsLoaded() > 0)
            ListView1Click();
        setPanelText(1, sf6::SyncSession::endPanelText(sf6::SyncEnd::Stalled));
        enterState(Sync.loop().RowsLoaded() > 0 ? CommandState::SyncDone : CommandState::SyncEmpty);
        ui::MessageBoxes::show(Sync.endMessage(sf6::SyncEnd::Stalled), this);
        showP20Notice();
        return;
    }
}

// ---------------------------------------------------------------------------
// Archive

void TForm1::setArchiveLocation(const sf6::ArchiveLocation& location)
{
    archiveLocation_ = location;
    archive_.reset();
    archiveProblemShown_.clear();
    if (!location.off())
        openArchive(true);
}

bool TForm1::openArchive(bool tellUser)
{
    if (archive_)
        return true;
    if (archiveLocation_.off())
        return false;
    auto opened = sf6::Archive::open(archiveLocation_);
    if (!opened) {
        // One message a problem: the program goes on without the archive.
        if (tellUser && opened.error() != archiveProblemShown_) {
            archiveProblemShown_ = opened.error();
            ui::MessageBoxes::show(opened.error() + QStringLiteral("\n程序照常运行，只是同步的记录不会存档。"), this);
        }
        return false;
    }
    archive_ = std::move(*opened);
    if (archive_->readOnly() && tellUser && archiveProblemShown_ != archive_->readOnlyReason()) {
        archiveProblemShown_ = archive_->readOnlyReason();
        ui::MessageBoxes::show(archive_->readOnlyReason(), this);
    }
    return true;
}

void TForm1::archiveSync(sf6::SyncEnd end)
{
    const std::vector<QByteArray> records = Sync.receivedRecords();
    if (records.empty())
        return;   // nothing came: no sync to keep
    setPanelText(TStatusBar::kArchivePanel, sf6::kTextNotArchived);
    if (!openArchive(true))
        return;
    auto stored = sf6::ops::keepSync(*archive_, {kProgramName, MSComm1.PortName(), Sync.loop().RecordTotal(), end, records});
    if (!stored) {
        if (stored.error() != archiveProblemShown_) {
            archiveProblemShown_ = stored.error();
            ui::MessageBoxes::show(stored.error(), this);
        }
        return;
    }
    setPanelText(TStatusBar::kArchivePanel, sf6::archivedText(*stored));
    // Each row knows its archived record, for the report and the register.
    for (int i = 0; i < ListView1->topLevelItemCount() && size_t(i) < stored->recordIds.size(); ++i)
        ListView1->topLevelItem(i)->setData(0, kArchiveIdRole, stored->recordIds[size_t(i)]);
}

int TForm1::archiveNumber(const QTreeWidgetItem* item) const
{
    return item ? item->data(0, kArchiveIdRole).toInt() : 0;
}

void TForm1::prepareReportDialog(TForm3* dialog, std::function<sf6::Archive*()> archive, bool fromLatestReport)
{
    if (sf6::Archive* a = archive()) {
        const sf6::ops::DialogStart start = sf6::ops::dialogStart(*a, dialog->recordIds(), dialog->details(), fromLatestReport);
        if (start.details)
            dialog->setDetails(*start.details);
        if (const auto& e = start.linkedRelay)
            dialog->setRelayFields({e->name, e->model, e->serial, e->made, e->client});
    }
    // The reports wait for the end of the confirmation: all kept together once
    // its pages are made (and its PDF saved), none after a failure or a cancel.
    auto batch = std::make_shared<sf6::ops::ReportBatch>();
    dialog->setReportMaker([this, archive, batch, dialog](const sf6::ReportDetails& d, const sf6::ListRow& row, int recordId) {
        sf6::Archive* a = archive();
        sf6::ReportRelay how{dialog->serialChosen(), false};
        const QString serial = d.serialNumber.trimmed();
        if (a && recordId > 0 && !a->readOnly() && how.serialChosen && !serial.isEmpty())
            if (auto linked = sf6::linkedSerial(*a, recordId); linked && *linked && **linked != serial)
                how.moveLink = ui::Choices::choose({QStringLiteral("关联继电器"),
                                                    QStringLiteral("记录已关联到继电器 %1，改为关联到 %2？").arg(**linked, serial),
                                                    {}},
                                                   dialog)
                    == 0;
        const sf6::ops::RecordReport made = sf6::ops::confirmedReport(a, recordId, d, row, kProgramName, how);
        if (!made.problems.isEmpty())
            ui::MessageBoxes::show(made.problems.join(u'\n'), this);
        batch->add(made);
        return made.pages;
    });
    dialog->setBatchEnd([archive, batch, dialog](bool complete) {
        sf6::Archive* a = archive();
        if (!a)
            return;
        if (auto kept = batch->finish(*a, complete, kProgramName); !kept)
            ui::MessageBoxes::show(kept.error(), dialog);
    });
    if (!archive())
        return;   // no register at hand: the dialog stays as it is
    dialog->setRelayPicker([this, archive, dialog]() -> std::optional<TForm3::RelayFields> {
        sf6::Archive* a = archive();
        if (!a)
            return std::nullopt;
        const auto relays = sf6::listRelays(*a);
        if (!relays || relays->empty()) {
            ui::MessageBoxes::show(relays ? QStringLiteral("继电器台账中还没有继电器。") : relays.error(), dialog);
            return std::nullopt;
        }
        QStringList items;
        for (const sf6::RelayEntry& e : *relays)
            items << QStringLiteral("%1  %2  %3  %4").arg(e.serial, e.name, e.model, e.client);
        const int i = ui::Choices::choose({QStringLiteral("从台账选择"), QStringLiteral("继电器："), items}, dialog);
        if (i < 0)
            return std::nullopt;
        const sf6::RelayEntry& e = (*relays)[size_t(i)];
        return TForm3::RelayFields{e.name, e.model, e.serial, e.made, e.client};
    });
}

void TForm1::N15Click()
{
    if (archiveLocation_.off()) {
        ui::MessageBoxes::show(QStringLiteral("存档未启用（--no-archive），没有历史记录可查看。"), this);
        return;
    }
    THistoryForm* history = THistoryForm::open(archiveLocation_, nullptr);
    if (!history)
        return;
    history->onReportDialog = [this, history](TForm3* d) {
        prepareReportDialog(d, [history] { return &history->archive(); }, true);
    };
    history->addCommand(QStringLiteral("关联继电器"), [this, history](const std::vector<sf6::ArchivedRecord>& records) {
        linkToRelay(history, records);
    });
    history->addCommand(QStringLiteral("取消关联"), [this, history](const std::vector<sf6::ArchivedRecord>& records) {
        unlinkFromRelay(history, records);
    });
    history->addCommand(QStringLiteral("趋势图"), [this, history](const std::vector<sf6::ArchivedRecord>& records) {
        const auto serial = sf6::linkedSerial(history->archive(), records.front().id);
        if (!serial || !*serial) {
            ui::MessageBoxes::show(serial ? QStringLiteral("所选记录没有关联继电器。") : serial.error(), history);
            return;
        }
        openTrend(history->archive(), **serial, history);
    });
    TCertifyDialog::addCommandTo(history);
    TPressureForm::addP20CheckTo(history);
    history->show();
    history->raise();
    emit historyOpened(history);
}

void TForm1::linkToRelay(THistoryForm* history, const std::vector<sf6::ArchivedRecord>& records)
{
    const auto relays = sf6::listRelays(history->archive());
    if (!relays || relays->empty()) {
        ui::MessageBoxes::show(relays ? QStringLiteral("继电器台账中还没有继电器，请先在继电器台账中添加。") : relays.error(),
                               history);
        return;
    }
    QStringList items;
    for (const sf6::RelayEntry& e : *relays)
        items << QStringLiteral("%1  %2  %3").arg(e.serial, e.name, e.model);
    const int i = ui::Choices::choose({QStringLiteral("关联继电器"), QStringLiteral("所选%1条记录关联到：").arg(records.size()), items},
                                      history);
    if (i < 0)
        return;
    const QString serial = (*relays)[size_t(i)].serial;
    std::vector<int> ids;
    for (const sf6::ArchivedRecord& r : records)
        ids.push_back(r.id);
    if (const sf6::Status s = sf6::ops::linkRecords(history->archive(), ids, serial, kProgramName); !s) {
        ui::MessageBoxes::show(s.message(), history);
        return;
    }
    ui::MessageBoxes::show(QStringLiteral("已将%1条记录关联到继电器 %2。").arg(records.size()).arg(serial), history);
}

void TForm1::unlinkFromRelay(THistoryForm* history, const std::vector<sf6::ArchivedRecord>& records)
{
    std::vector<int> ids;
    for (const sf6::ArchivedRecord& r : records)
        ids.push_back(r.id);
    const auto unlinked = sf6::ops::unlinkRecords(history->archive(), ids, kProgramName);
    ui::MessageBoxes::show(unlinked ? QStringLiteral("已取消%1条记录的关联。").arg(*unlinked) : unlinked.error(), history);
}

void TForm1::openTrend(sf6::Archive& archive, const QString& serial, QWidget* parent)
{
    if (TTrendForm* form = TTrendForm::open(archive, serial, parent))
        emit trendOpened(form);
}

void TForm1::N17Click()
{
    if (archiveLocation_.off()) {
        ui::MessageBoxes::show(QStringLiteral("存档未启用（--no-archive），无处导入。"), this);
        return;
    }
    if (!openArchive(true))
        return;
    if (archive_->readOnly()) {
        ui::MessageBoxes::show(archive_->readOnlyReason(), this);
        return;
    }
    sf6::import::TImportDialog(*archive_, this, sf6::ops::importFiles).Execute();
}

void TForm1::N16Click()
{
    if (archiveLocation_.off()) {
        ui::MessageBoxes::show(QStringLiteral("存档未启用（--no-archive），继电器台账保存在存档中。"), this);
        return;
    }
    TRelayRegisterForm* form = TRelayRegisterForm::open(archiveLocation_, nullptr);
    if (!form)
        return;
    connect(form, &TRelayRegisterForm::trendOpened, this, &TForm1::trendOpened);
    form->show();
    form->raise();
    emit registerOpened(form);
}

namespace {
// Windows that keep their data in the archive: without one they are not opened.
template <class Form>
Form* showArchiveWindow(const sf6::ArchiveLocation& location, const QString& archiveOff, QWidget* parent)
{
    if (location.off()) {
        ui::MessageBoxes::show(archiveOff, parent);
        return nullptr;
    }
    Form* form = Form::open(location, nullptr);
    if (form) {
        form->show();
        form->raise();
    }
    return form;
}
} // namespace

void TForm1::N18Click()
{
    showArchiveWindow<TLabForm>(archiveLocation_, QStringLiteral("存档未启用（--no-archive），实验室信息保存在存档中。"), this);
}

void TForm1::N19Click()
{
    showArchiveWindow<TStandardsForm>(archiveLocation_, QStringLiteral("存档未启用（--no-archive），标准器保存在存档中。"),
                                      this);
}

void TForm1::N20Click()
{
    showArchiveWindow<TCertificatesForm>(archiveLocation_, QStringLiteral("存档未启用（--no-archive），证书保存在存档中。"),
                                         this);
}

void TForm1::N25Click()
{
    if (TPeopleForm* form = showArchiveWindow<TPeopleForm>(
            archiveLocation_, QStringLiteral("存档未启用（--no-archive），人员和签名密钥保存在存档中。"), this))
        emit peopleOpened(form);
}

void TForm1::N21Click()
{
    if (TAuditForm* form = showArchiveWindow<TAuditForm>(
            archiveLocation_, QStringLiteral("存档未启用（--no-archive），没有审计记录可查看。"), this))
        emit auditOpened(form);
}

void TForm1::N22Click()
{
    auto* form = new TPressureForm(this);
    form->show();
    form->raise();
}

// The same check as sf6cli verify-pdf; with the archive the content and any amendment too.
void TForm1::N23Click()
{
    const QStringList files =
        ui::FileDialogs::openFileNames({QStringLiteral("核对证书PDF"), sf6::kCertificatePdfFilter}, this);
    if (files.isEmpty())
        return;
    const sf6::Archive* archive = openArchive(false) ? archive_.get() : nullptr;
    const auto check = sf6::ops::checkCertificatePdf(files.front(), {}, archive);
    if (!check) {
        ui::MessageBoxes::show(check.error(), this);
        return;
    }
    ui::MessageBoxes::show(ui::Message{sf6::ops::pdfCheckReport(*check).trimmed(), ui::kMessageCaption,
                                       check->genuine() ? QMessageBox::Information : QMessageBox::Warning},
                           this);
}

// Settings, backing up now, and restoring a backup.
void TForm1::N24Click()
{
    if (archiveLocation_.off()) {
        ui::MessageBoxes::show(QStringLiteral("存档未启用（--no-archive），没有可备份的存档。"), this);
        return;
    }
    auto* form = new TBackupForm(archiveLocation_, nullptr);
    form->onReleaseArchive = [this] {
        // A window still reading the archive would keep the old file, or on
        // Windows keep it from being moved aside.
        QStringList open;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible()
                && (qobject_cast<THistoryForm*>(top) || qobject_cast<TRelayRegisterForm*>(top) || qobject_cast<TLabForm*>(top)
                    || qobject_cast<TStandardsForm*>(top) || qobject_cast<TCertificatesForm*>(top)
                    || qobject_cast<TAuditForm*>(top) || qobject_cast<TPeopleForm*>(top) || qobject_cast<TForm3*>(top) || qobject_cast<TTrendForm*>(top)))
                open << top->windowTitle();
        if (!open.isEmpty())
            return QStringLiteral("请先关闭这些窗口再恢复存档：%1").arg(open.join(QStringLiteral("、")));
        if (BackupThread)
            return QStringLiteral("自动备份正在进行，请等它完成后再恢复存档。");
        if (syncing())
            return QStringLiteral("正在同步，请等同步结束后再恢复存档。");
        releaseArchive();
        return QString();
    };
    form->onArchiveRestored = [this] { setArchiveLocation(archiveLocation_); };
    form->show();
    form->raise();
    emit backupOpened(form);
}

void TForm1::releaseArchive() { archive_.reset(); }

void TForm1::startAutomaticBackup(const sf6::BackupSettings& settings)
{
    if (archiveLocation_.off() || BackupThread)
        return;
    auto result = std::make_shared<std::optional<sf6::Expected<sf6::BackupRun>>>();
    backupResult_ = result;
    const sf6::ArchiveLocation location = archiveLocation_;
    BackupThread = QThread::create([location, settings, result] {
        result->emplace(sf6::automaticBackup(location, settings, sf6::Clock::now()));
    });
    connect(BackupThread, &QThread::finished, this, &TForm1::BackupThreadFinished);
    BackupThread->start(QThread::LowPriority);
}

void TForm1::BackupThreadFinished()
{
    if (!BackupThread)
        return;
    BackupThread->wait();
    delete BackupThread;
    BackupThread = nullptr;
    const auto& result = *backupResult_;
    if (!result || !*result) {
        const QString why = result ? result->error() : QStringLiteral("未知错误");
        StatusBar1->showBackupNote(QStringLiteral("未能自动备份：") + why, why);
        return;
    }
    const sf6::BackupRun& run = **result;
    const QDateTime at = run.made ? sf6::backupNameTime(QFileInfo(run.file).fileName()).value_or(QDateTime()) : run.newest;
    if (!at.isValid())
        return;
    const QString when = at.toString(at.date() == sf6::Clock::today() ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
    QString tip = run.made ? QStringLiteral("备份已写入 %1").arg(QDir::toNativeSeparators(run.file))
                           : QStringLiteral("最新的备份：%1").arg(at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!run.notRemoved.isEmpty())
        tip += QStringLiteral("\n无法删除旧备份：") + run.notRemoved.join(QStringLiteral("、"));
    StatusBar1->showBackupNote(QStringLiteral("已备份 ") + when, tip);
}

void TForm1::showP20Notice()
{
    std::vector<sf6::ListRow> rows;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ListView1->topLevelItem(i);
        sf6::ListRow row;
        for (int c = 0; c < sf6::kColumnCount; ++c)
            row << item->text(c);
        rows.push_back(row);
    }
    const QString text = sf6::p20SyncMessage(rows);
    if (text.isEmpty())
        return;
    // Beside the sync, not in its way: the user reads it and closes it when done.
    if (!P20Notice) {
        P20Notice = new QMessageBox(QMessageBox::NoIcon, ui::kMessageCaption, QString(), QMessageBox::Ok, this);
        P20Notice->setObjectName(QStringLiteral("P20Notice"));
        P20Notice->setModal(false);
    }
    P20Notice->setText(text);
    P20Notice->show();
}

void TForm1::AddDBGridClick()
{
    const std::vector<sf6::ListRow> rows = Sync.takeNewRows();
    if (rows.empty())
        return;
    for (const sf6::ListRow& row : rows) {
        auto* item = new QTreeWidgetItem(row);
        for (int c = 1; c < sf6::kColumnCount; ++c)
            item->setTextAlignment(c, Qt::AlignCenter);
        ListView1->addTopLevelItem(item);
        ListView1->verticalScrollBar()->setValue(ListView1->verticalScrollBar()->value() + kScrollStep);
        ListView1->clearSelection();
        QTreeWidgetItem* newest = ListView1->topLevelItem(Sync.loop().RowsLoaded() - 1);
        if (newest) {
            newest->setSelected(true);
            ListView1->setCurrentItem(newest);
        }
        ListView1->setFocus();
    }
    ListView1->scrollToItem(ListView1->currentItem());
    setPanelText(3, Sync.progressText());
    StatusBar1->showProgress(Sync.loop().RowsLoaded(), std::max(1, Sync.loop().RecordTotal()));
}

// ---------------------------------------------------------------------------
// The list, the side panel, deletion

std::optional<sf6::ListRow> TForm1::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    sf6::ListRow row;
    for (int c = 0; c < sf6::kColumnCount; ++c)
        row << selected.first()->text(c);
    return row;
}

void TForm1::ListView1Click()
{
    const auto row = selectedRow();
    Panel1->fillFrom(row ? &*row : nullptr);
}

void TForm1::ListView1ContextPopup(const QPoint& pos)
{
    if (PopupMenu1->AutoPopup)
        PopupMenu1->popup(ListView1->viewport()->mapToGlobal(pos));
}

void TForm1::N3Click()
{
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    ListView1->setUpdatesEnabled(false);
    for (auto it = selected.rbegin(); it != selected.rend(); ++it)
        delete *it;
    ListView1->clearSelection();
    // The row that moved up would otherwise carry the focus mark and look chosen.
    ListView1->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    ListView1->setUpdatesEnabled(true);
}

// ---------------------------------------------------------------------------
// Report, export, about, exit

void TForm1::N1Click()
{
    const auto row = selectedRow();
    if (!row) {
        ui::MessageBoxes::show(QStringLiteral("请选择一行数据！"), this);
        return;
    }
    auto* dialog = new TForm3(nullptr);
    dialog->loadRow(*row, archiveNumber(ListView1->selectedItems().value(0)));
    prepareReportDialog(dialog, [this]() { return archive_.get(); }, false);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void TForm1::N2Click()
{
    // The name last chosen, else the sync's date, in the folder last used by any save dialog.
    const QString proposed = !SaveDialog1FileName.isEmpty()
                                 ? QFileInfo(SaveDialog1FileName).fileName()
                                 : sf6::workbookFileName(SyncDate.isValid() ? SyncDate : sf6::Clock::today());
    const QString chosen = ui::FileDialogs::saveFileName(
        ui::SaveRequest{QStringLiteral("导出数据"), proposed, sf6::kWorkbookFilter}, this);
    if (chosen.isEmpty())
        return;
    const QString fileName = sf6::withXlsxExtension(chosen);
    SaveDialog1FileName = fileName;
    sf6::ListView2Excel(ListView1, fileName);
}

void TForm1::A1Click()
{
    auto* box = new TForm2(this);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void TForm1::N4Click() { close(); }
