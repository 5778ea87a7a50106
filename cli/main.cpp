// sf6cli: the calibrator scan, the record download and the archive without a window.
//   sf6cli ports   [--port NAME]...    the ports a scan would try, in scan order
//   sf6cli connect [--port NAME]...    find the calibrator: NAME<TAB>KIND
//   sf6cli sync    [--port NAME]... [--tsv FILE|-] [--json FILE|-] [--xlsx FILE] [--pdf-dir DIR] [details]
//                  [--archive LOCATION | --no-archive]
//   sf6cli demo    [--records N] [as for sync]     against a simulated calibrator
//   sf6cli archive list|export|report|syncs [--from D] [--to D] [--text T] [outputs] [details]
//   sf6cli archive relay --serial S [--name T] [--model T] [--made T] [--client T] [--range LO,HI] [--class C]
//                        [--alarm V] [--lock1 V] [--lock2 V] [--diff-limit V] [--interval-months N]
//   sf6cli archive relays [--tsv -|--json -]; archive link --record N... | --records 1,2,5-9 --serial S;
//   sf6cli archive unlink --record N... | --records 1,2,5-9
//   sf6cli archive judge --record N [--json -]; archive trend --serial S --png FILE [--pdf FILE]
//   sf6cli archive import FILE... [--archive LOCATION]   earlier exports back into the archive
//   sf6cli archive lab [--name T] [--address T] [--phone T] [--accreditation T] [--prefix T] [--json -]
//   sf6cli archive standard --serial S [--name T] [--model T] [--certificate T] [--issuer T] [--valid-until D]
//                           [--uncertainty T]; archive standards [--tsv -|--json -]
//   sf6cli archive certify --record N --standard S --tester T --checker T [--approver T] [--humidity H]
//                          [--as-found M] [--pdf FILE]
//   sf6cli archive approve --certificate NO --approver T; archive amend --certificate NO --reason T [certify options]
//   sf6cli archive certificate --number NO --pdf FILE; archive certificates [--tsv -|--json -]
//   sf6cli archive verify [--certificate NO]
//   sf6cli archive audit [--tsv -|--json -]   every change on the audit trail, oldest first
//   sf6cli p20 --pt V --temp C | --p20 V --temp C [--json FILE]   SF6 pressure at 20 °C and back
//   sf6cli archive p20 --record N [--tsv FILE|--json FILE]   the record's P20 against the equation
// Exit: 0 done; 1 no answer / no records; 2 bad usage; 3 no ports;
//       4 sync broken off (stalled or link lost); 5 an output could not be written;
//       6 the archive could not be opened or written (the outputs were written);
//       archive import: 2 a file is no export of this program, 8 some rows could not be imported;
//       archive verify: 7 an audit row or a certificate was altered;
//       archive p20: 9 a reading's P20 disagrees, 10 the record cannot be checked.
#include "cli/Commands.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "base/Console.h"
#include "link/PortList.h"
#include "ui/Application.h"

#include <QApplication>
#include <QCommandLineParser>

#include "sf6/Version.h"

#include <csignal>
#include <cstdio>

using namespace cli;

int main(int argc, char** argv)
{
#ifndef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");   // reports are drawn without a screen
#endif
#ifdef SIGPIPE
    // A reader that goes away (| head) is a failed output to report, not a reason to die
    // before the workbook and the reports are written.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    keepQtMessagesOffStderr();   // nothing but sf6cli's own messages on standard error
    sf6::useUtf8Console();
    // Widgets for the trend chart (Qt Charts draws with them), never shown.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sf6cli"));
    QApplication::setApplicationVersion(QStringLiteral(SF6_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "SF6 density-relay calibrator: find it, download its records, keep them in the archive.\n"
        "Commands: ports, connect, sync, demo, p20,\n"
        "archive list|export|report|syncs|relay|relays|link|judge|trend|import|audit|p20,\n"
        "archive lab|standard|standards|certify|approve|amend|certificate|certificates|verify.\n"
        "Exit: 0 done, 1 no answer or no records, 2 bad usage, 3 no ports, 4 sync broken off,\n"
        "5 an output could not be written, 6 the archive could not be opened or written,\n"
        "7 (verify) an audit row or a certificate was altered, 8 (import) some rows could not be imported,\n"
        "9 (archive p20) a P20 disagrees with the SF6 equation, 10 (archive p20) the record cannot be checked."));
    p.addHelpOption();
    p.addVersionOption();
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("ports | connect | sync | demo | archive WHAT"));
    addOptions(p);

    if (!p.parse(QCoreApplication::arguments())) {
        err(p.errorText());
        return kUsage;
    }
    if (p.isSet(QStringLiteral("version"))) {
        std::printf("sf6cli %s\n", SF6_VERSION);
        return kOk;
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::printf("%s", p.helpText().toLocal8Bit().constData());
        return kOk;
    }
    if (const auto empty = emptyPathOption(p)) {
        err(QStringLiteral("--%1 需要一个文件名（标准输出用 -）").arg(*empty));
        return kUsage;
    }
    const QStringList args = p.positionalArguments();
    const QString command = args.value(0);
    const qsizetype expected = command == QLatin1String("archive") ? 2 : 1;
    const bool importing = command == QLatin1String("archive") && args.value(1) == QLatin1String("import");
    if (importing ? args.size() <= expected : args.size() != expected) {
        err(p.helpText());
        return kUsage;
    }
    if (p.isSet(QStringLiteral("port"))) {
        // An empty --port names no port: `--port ""` scans an empty list.
        QStringList names = p.values(QStringLiteral("port"));
        names.removeAll(QString());
        sf6::setPortListOverride(names);
    }

    if (command == QLatin1String("ports"))
        return portsCommand();
    if (command == QLatin1String("connect"))
        return connectCommand();
    if (command == QLatin1String("sync"))
        return syncCommand(p, false);
    if (command == QLatin1String("demo"))
        return syncCommand(p, true);
    if (command == QLatin1String("p20"))
        return p20Command(p);
    if (importing)
        return importCommand(p, args.mid(2));
    if (command == QLatin1String("archive"))
        return archiveCommand(p, args[1]);
    err(QStringLiteral("未知命令：%1").arg(command));
    return kUsage;
}
