// sf6sim: serves a simulated calibrator on a pseudo-terminal until interrupted.
#include "sim/Records.h"
#include "sim/Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {
std::vector<sim::Chunk> parseChunks(const QString& text, std::chrono::milliseconds delay, bool* ok)
{
    std::vector<sim::Chunk> out;
    *ok = true;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool good = false;
        const int n = part.trimmed().toInt(&good);
        if (!good || n <= 0) {
            *ok = false;
            return {};
        }
        out.push_back({n, out.empty() ? std::chrono::milliseconds(0) : delay});
    }
    return out;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sf6sim"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Simulated SF6 density-relay calibrator on a pseudo-terminal."));
    p.addHelpOption();
    p.addOptions({
        {QStringLiteral("records"), QStringLiteral("Number of generated records (0..255)."), QStringLiteral("N"), QStringLiteral("12")},
        {QStringLiteral("records-file"), QStringLiteral("Records to serve: one 105-byte record a line, in hex."), QStringLiteral("FILE")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the generated readings."), QStringLiteral("S"), QStringLiteral("2012")},
        {QStringLiteral("probe"), QStringLiteral("Answer to the connect probe: echo, silent, wrong, six, late."), QStringLiteral("HOW"), QStringLiteral("echo")},
        {QStringLiteral("late-ms"), QStringLiteral("Delay of a late echo."), QStringLiteral("MS"), QStringLiteral("800")},
        {QStringLiteral("rate"), QStringLiteral("Reply pace in bytes a second, 1920 for 19200 baud (0: unpaced)."), QStringLiteral("BYTES"), QStringLiteral("1920")},
        {QStringLiteral("chunks"), QStringLiteral("Reply chunk sizes, e.g. 50,60,105; the rest goes paced."), QStringLiteral("LIST")},
        {QStringLiteral("chunk-delay-ms"), QStringLiteral("Pause before each chunk after the first."), QStringLiteral("MS"), QStringLiteral("1000")},
        {QStringLiteral("first-byte-alone"), QStringLiteral("Send the first reply byte alone, a second ahead of the rest.")},
        {QStringLiteral("stop-after"), QStringLiteral("Send only the first K reply bytes."), QStringLiteral("K")},
        {QStringLiteral("extra"), QStringLiteral("Surplus bytes after the trailer."), QStringLiteral("N"), QStringLiteral("0")},
        {QStringLiteral("first-delay-ms"), QStringLiteral("Silence before the reply starts."), QStringLiteral("MS"), QStringLiteral("0")},
        {QStringLiteral("hang-up"), QStringLiteral("Hang up after the last byte sent.")},
        {QStringLiteral("hang-up-delay-ms"), QStringLiteral("Pause between the last byte and the hang-up."), QStringLiteral("MS"), QStringLiteral("0")},
        {QStringLiteral("no-sync"), QStringLiteral("Stay silent on the sync request.")},
    });
    p.process(app);

    std::vector<QByteArray> records;
    if (p.isSet(QStringLiteral("records-file"))) {
        QString error;
        if (!sim::loadRecordsFile(p.value(QStringLiteral("records-file")), &records, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 2;
        }
    } else {
        const int n = p.value(QStringLiteral("records")).toInt();
        if (n < 0 || n > 255) {
            std::fprintf(stderr, "records must be 0..255\n");
            return 2;
        }
        records = sim::plausibleRecords(n, p.value(QStringLiteral("seed")).toUInt());
    }

    sim::SyncScript script;
    script.reply = sim::makeSyncReply(records);
    script.extra = QByteArray(p.value(QStringLiteral("extra")).toInt(), '\x55');
    script.bytesPerSecond = p.value(QStringLiteral("rate")).toInt();
    script.firstDelay = std::chrono::milliseconds(p.value(QStringLiteral("first-delay-ms")).toInt());
    script.hangUpAtEnd = p.isSet(QStringLiteral("hang-up"));
    script.hangUpDelay = std::chrono::milliseconds(p.value(QStringLiteral("hang-up-delay-ms")).toInt());
    script.answer = !p.isSet(QStringLiteral("no-sync"));
    if (p.isSet(QStringLiteral("stop-after")))
        script.stopAfter = p.value(QStringLiteral("stop-after")).toInt();
    const std::chrono::milliseconds chunkDelay(p.value(QStringLiteral("chunk-delay-ms")).toInt());
    if (p.isSet(QStringLiteral("first-byte-alone")))
        script.chunks = {{1, {}}, {int(script.reply.size()), chunkDelay}};
    if (p.isSet(QStringLiteral("chunks"))) {
        bool ok = false;
        script.chunks = parseChunks(p.value(QStringLiteral("chunks")), chunkDelay, &ok);
        if (!ok) {
            std::fprintf(stderr, "bad --chunks\n");
            return 2;
        }
    }

    sim::Simulator s;
    const QString probe = p.value(QStringLiteral("probe"));
    const std::chrono::milliseconds late(p.value(QStringLiteral("late-ms")).toInt());
    if (probe == QLatin1String("silent"))
        s.setProbeAnswer(sim::ProbeAnswer::Silent);
    else if (probe == QLatin1String("wrong"))
        s.setProbeAnswer(sim::ProbeAnswer::WrongBytes);
    else if (probe == QLatin1String("six"))
        s.setProbeAnswer(sim::ProbeAnswer::SixBytes);
    else if (probe == QLatin1String("late"))
        s.setProbeAnswer(sim::ProbeAnswer::Late, late);
    else if (probe != QLatin1String("echo")) {
        std::fprintf(stderr, "unknown --probe %s\n", qPrintable(probe));
        return 2;
    }
    s.setSyncScript(script);

    // Block the signals we stop on, so sigwait can take them.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    QString error;
    if (!s.start(&error)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(s.portPath()));
    std::fflush(stdout);
    int sig = 0;
    sigwait(&set, &sig);
    s.stop();
    return 0;
}
