// sf6companion: the calibrator's PC companion.
//   --port NAME   try only these ports (repeatable), e.g. a pseudo-terminal
//   --demo        serve a simulated calibrator in-process and scan only its port
//   --auto        connect at start, and sync once connected (for demonstrations)
//   --archive LOCATION   an SQLite file or postgresql://USER@HOST:PORT/DBNAME
//                 (default: $SF6_ARCHIVE, else the user's archive); --no-archive: none
#include "base/Platform.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "app/TForm1.h"
#include "app/TForm2.h"
#include "archive/ArchiveLocation.h"
#include "certificate/BackupPlan.h"
#include "link/PortList.h"
#include "link/PortScan.h"
#include "report/TForm3.h"
#include "report/TForm4.h"

#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "sf6/Version.h"
#include "sim/InProcessLink.h"
#include <memory>

namespace {
constexpr int kDemoRecords = 40;
constexpr std::chrono::milliseconds kAutoStartDelay{300};
} // namespace

int main(int argc, char** argv)
{
    // Answered before a window system is needed: a terminal without a display asks too.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("sf6companion %s\n", SF6_VERSION);
            return 0;
        }
    }
    keepQtMessagesOffStderr();
    sf6::platform::drawTextFromOutlines();
    TApplication app(argc, argv);
    TApplication::setApplicationName(QStringLiteral("sf6companion"));
    TApplication::setApplicationVersion(QStringLiteral(SF6_VERSION));
    app.setQuitOnLastWindowClosed(false);

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("SF6 density-relay calibrator companion"));
    p.addHelpOption();
    p.addVersionOption();
    p.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to try instead of the system's list (repeatable)."), QStringLiteral("NAME")},
        {QStringLiteral("demo"), QStringLiteral("Run against a simulated calibrator.")},
        {QStringLiteral("auto"), QStringLiteral("Connect at start and sync once connected.")},
        {QStringLiteral("archive"), QStringLiteral("Archive: an SQLite file or postgresql://USER@HOST:PORT/DBNAME."),
         QStringLiteral("LOCATION")},
        {QStringLiteral("no-archive"), QStringLiteral("Keep nothing in the archive.")},
    });
    p.process(app);

    try {
        if (p.isSet(QStringLiteral("port")))
            sf6::setPortListOverride(p.values(QStringLiteral("port")));

        // The same in-process calibrator on every system: Windows has no pseudo-terminals.
        if (p.isSet(QStringLiteral("demo")))
            sim::serveDemoCalibrator(kDemoRecords);

        // Created in this order; only the main window is shown. The first about
        // box, dialog and page are never used: each command makes its own.
        TForm1 form1;
        TForm2 form2(&form1);
        TForm3 form3;
        TForm4 form4{sf6::ReportPage{}};
        QObject::connect(&form1, &TForm1::closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        if (p.isSet(QStringLiteral("demo")))
            form1.markAsDemo();
        form1.show();

        // After the window is up, so a problem with the archive shows over it.
        const std::optional<QString> archiveOption =
            p.isSet(QStringLiteral("archive")) ? std::optional<QString>(p.value(QStringLiteral("archive"))) : std::nullopt;
        const auto location = sf6::ArchiveLocation::choose(archiveOption, p.isSet(QStringLiteral("no-archive")),
                                                           p.isSet(QStringLiteral("demo")));
        const bool demo = p.isSet(QStringLiteral("demo"));
        QTimer::singleShot(0, &form1, [&form1, location, demo] {
            if (location) {
                form1.setArchiveLocation(*location);
                // The demo's simulated records are not worth keeping.
                if (!demo)
                    form1.startAutomaticBackup(sf6::loadBackupSettings());
            } else {
                ui::MessageBoxes::show(location.error() + QStringLiteral("\n程序将不存档运行。"), &form1);
            }
        });

        if (p.isSet(QStringLiteral("auto"))) {
            QTimer::singleShot(kAutoStartDelay, &form1, &TForm1::N6Click);
            // After the scan that connects: the window has handled its outcome by then.
            auto syncOnce = std::make_shared<QMetaObject::Connection>();
            *syncOnce = QObject::connect(&form1.Scanner1, &sf6::PortScanner::finished, &form1, [&form1, syncOnce] {
                if (form1.Connected == 1) {
                    QObject::disconnect(*syncOnce);
                    QTimer::singleShot(kAutoStartDelay, &form1, &TForm1::N8Click);
                }
            });
        }
        const int rc = TApplication::exec();
        // A probe still opening a port uses the demo's far end and the window's statics.
        sf6::finishProbeThreads(sf6::kProbeDeadline);
        return rc;
    } catch (const std::exception& e) {
        TApplication::showError(sf6::platform::exceptionText(e.what()));
    } catch (...) {
        TApplication::showError(QString());
    }
    return 0;
}
