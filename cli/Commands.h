#pragma once
// sf6cli's commands. Each returns the program's exit code (cli/Output.h).

#include "archive/Archive.h"

#include <QCommandLineParser>

namespace cli {

int portsCommand();
int connectCommand();
// demo: against a simulated calibrator the command serves itself.
int syncCommand(const QCommandLineParser& p, bool demo);
// archive list | export | report | syncs | relay | relays | link | judge | trend
int archiveCommand(const QCommandLineParser& p, const QString& what);
// The register's part: relay, relays, link, judge, trend.
// archive import FILE...: earlier exports back into the archive.
int importCommand(const QCommandLineParser& p, const QStringList& files);
int registerCommand(const QCommandLineParser& p, sf6::Archive& archive, const QString& what);
// Certificates: lab, standard, standards, certify, approve, amend, certificate, certificates, verify.
const QStringList& certificateCommands();
bool certificateCommandWrites(const QCommandLineParser& p, const QString& what);
int certificateCommand(const QCommandLineParser& p, sf6::Archive& archive, const QString& what);
// p20 --pt V --temp C | --p20 V --temp C: the SF6 conversion; archive p20 --record N: the record's check.
int p20Command(const QCommandLineParser& p);
int archiveP20Command(const QCommandLineParser& p, const sf6::Archive& archive);
// archive audit: the audit trail.
int auditCommand(const QCommandLineParser& p, const sf6::Archive& archive);

} // namespace cli
