// sf6cli: the calibrator scan, the record download and the archive without a window.
// Its commands, their options and what they do are in one table (cli/CommandTable.cpp):
// sf6cli --help lists them, sf6cli help COMMAND tells one.
// Exit codes come from the kind of failure (cli/Output.h, exitCode).
#include "cli/CommandTable.h"
#include "cli/Help.h"
#include "cli/Options.h"
#include "cli/Output.h"
#include "base/Console.h"
#include "base/Platform.h"
#include "link/PortList.h"
#include "link/PortScan.h"
#include "ui/Application.h"

#include <QApplication>
#include <QCommandLineParser>

#include "sf6/Version.h"

#include <csignal>
#include <cstdio>
#include <cstring>

using namespace cli;

namespace {

// The words that name a command but none of them: the archive commands there are.
int unknownCommand(const QStringList& words)
{
    if (words.value(0) == QLatin1String("archive")) {
        QStringList known;
        for (const Command& c : commands())
            if (c.name.startsWith(QLatin1String("archive ")))
                known << c.name.mid(qsizetype(sizeof("archive")));
        err(QStringLiteral("未知的 archive 命令：%1（可用：%2）").arg(words.value(1), known.join(QStringLiteral(", "))));
    } else {
        err(QStringLiteral("未知命令：%1").arg(words.value(0)));
    }
    return kUsage;
}

// The archive a command's row asks for, opened to write when the command
// writes with these options: a damaged file is refused before anything is kept.
int withArchive(const Command& c, Invocation& inv)
{
    const QCommandLineParser& p = inv.options;
    // --to is a date only beside --from; archive copy and backup take it as a place,
    // archive merge --from as files.
    if (const auto filter = archiveFilter(p);
        !filter && c.options.contains(QStringLiteral("from")) && c.name != QLatin1String("archive merge"))
        return fail(filter.status());
    const auto location = archiveLocation(p);
    if (!location)
        return fail(location.status());
    if (location->off()) {
        const bool importing = c.name == QLatin1String("archive import");
        err(importing ? QStringLiteral("--no-archive：没有可导入的存档") : QStringLiteral("--no-archive：没有可查询的存档"));
        return kUsage;
    }
    const bool writing = writes(c, p);
    auto archive = sf6::Archive::open(*location, writing ? sf6::Archive::Access::Write : sf6::Archive::Access::Read);
    if (!archive)
        return fail(archive.status());
    const QString& readOnly = (*archive)->readOnlyReason();
    // A command that would keep something says it where it fails, once.
    if (!writing && !readOnly.isEmpty())
        err(readOnly);
    if (writing && c.writes == Writes::Yes && !readOnly.isEmpty())
        return fail(sf6::Status::failure(sf6::ErrorCode::ArchiveReadOnly, readOnly));
    inv.archive = archive->get();
    return c.handler(inv);
}

} // namespace

int main(int argc, char** argv)
{
    // The man page's commands, for the build: before Qt, which it does not need.
    if (argc == 2 && std::strcmp(argv[1], "--man-commands") == 0) {
        const QByteArray text = manCommands().toUtf8();
        return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size())
                && std::fflush(stdout) == 0
            ? kOk
            : kWriteFailed;
    }
#ifndef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");   // reports are drawn without a screen
#endif
#ifdef SIGPIPE
    // A reader that goes away (| head) is a failed output to report, not a reason to die
    // before the workbook and the reports are written.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    sf6::platform::drawTextFromOutlines();
    keepQtMessagesOffStderr();   // nothing but sf6cli's own messages on standard error
    sf6::useUtf8Console();
    // Widgets for the trend chart (Qt Charts draws with them), never shown.
    QApplication app(argc, argv);
    // Whichever way main returns, a probe still opening a port ends before Qt does.
    struct ProbesEnd {
        ~ProbesEnd() { sf6::finishProbeThreads(sf6::kProbeDeadline); }
    } probesEnd;
    QApplication::setApplicationName(QStringLiteral("sf6cli"));
    QApplication::setApplicationVersion(QStringLiteral(SF6_VERSION));

    QCommandLineParser p;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示帮助"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("显示版本"));
    p.addOption(help);
    p.addOption(version);
    addOptions(p);

    if (!p.parse(QCoreApplication::arguments())) {
        if (!p.unknownOptionNames().isEmpty())
            err(QStringLiteral("未知的选项：%1（sf6cli --help 列出全部命令，sf6cli help 命令 列出它的选项）")
                    .arg(p.unknownOptionNames().first()));
        else
            err(p.errorText());
        return kUsage;
    }
    if (p.isSet(version)) {
        std::printf("sf6cli %s\n", SF6_VERSION);
        return kOk;
    }
    const QStringList args = p.positionalArguments();
    if (p.isSet(help)) {
        // sf6cli COMMAND --help is sf6cli help COMMAND.
        const Command* helpCmd = findCommand({QStringLiteral("help")});
        const bool helpOfCommand = args.size() > 1 && args.value(0) == QLatin1String("help");
        return helpCmd->handler(Invocation{p, helpOfCommand ? args.mid(1) : args});
    }
    if (const auto empty = emptyPathOption(p)) {
        err(QStringLiteral("--%1 需要一个文件名（标准输出用 -）").arg(*empty));
        return kUsage;
    }
    if (args.isEmpty() || args == QStringList{QStringLiteral("archive")}) {
        err(generalHelp());
        return kUsage;
    }
    const Command* c = findCommand(args);
    if (!c)
        return unknownCommand(args);
    Invocation inv{p, args.mid(nameWords(*c))};
    if (!argumentsFit(*c, inv.arguments)) {
        err(commandHelp(*c));
        return kUsage;
    }
    if (p.isSet(QStringLiteral("port"))) {
        // An empty --port names no port: `--port ""` scans an empty list.
        QStringList names = p.values(QStringLiteral("port"));
        names.removeAll(QString());
        sf6::setPortListOverride(names);
    }
    if (c->archive == ArchiveUse::Opened)
        return withArchive(*c, inv);
    return c->handler(inv);
}
