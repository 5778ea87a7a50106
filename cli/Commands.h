#pragma once
// sf6cli's command handlers, named by the command table (cli/CommandTable.cpp).
// Each returns the program's exit code (cli/Output.h).

#include "archive/Archive.h"
#include "archive/ArchiveStore.h"

#include <QCommandLineParser>

namespace cli {

int portsCommand();
int connectCommand();
// demo: against a simulated calibrator the command serves itself.
int syncCommand(const QCommandLineParser& p, bool demo);

// The history window's lists and reports.
int listCommand(const QCommandLineParser& p, const sf6::Archive& archive, const sf6::ArchiveFilter& filter);
int exportCommand(const QCommandLineParser& p, const sf6::Archive& archive, const sf6::ArchiveFilter& filter);
int reportCommand(const QCommandLineParser& p, sf6::Archive& archive, const sf6::ArchiveFilter& filter);
int syncsCommand(const QCommandLineParser& p, const sf6::Archive& archive);

// The register: entries, links, judgements, trends.
int relayCommand(const QCommandLineParser& p, sf6::Archive& archive);
int relaysCommand(const QCommandLineParser& p, sf6::Archive& archive);
int linkCommand(const QCommandLineParser& p, sf6::Archive& archive, bool unlink);
int judgeCommand(const QCommandLineParser& p, sf6::Archive& archive);
int trendCommand(const QCommandLineParser& p, sf6::Archive& archive);

// archive import FILE...: earlier exports back into the archive.
int importCommand(const QCommandLineParser& p, sf6::Archive& archive, const QStringList& files);

// Certificates.
int labCommand(const QCommandLineParser& p, sf6::Archive& archive);
int standardCommand(const QCommandLineParser& p, sf6::Archive& archive);
int standardsCommand(const QCommandLineParser& p, const sf6::Archive& archive);
int certifyCommand(const QCommandLineParser& p, sf6::Archive& archive);
int approveCommand(const QCommandLineParser& p, sf6::Archive& archive);
int amendCommand(const QCommandLineParser& p, sf6::Archive& archive);
int reprintCommand(const QCommandLineParser& p, const sf6::Archive& archive);
int certificatesCommand(const QCommandLineParser& p, const sf6::Archive& archive);
int verifyCommand(const QCommandLineParser& p, const sf6::Archive& archive);
// The lab's signing key and the people who sign.
bool labKeyOption(const QCommandLineParser& p);
int labKeyCommand(const QCommandLineParser& p, sf6::Archive& archive);
int personCommand(const QCommandLineParser& p, sf6::Archive& archive);
int peopleCommand(const QCommandLineParser& p, const sf6::Archive& archive);

// p20 --pt V --temp C | --p20 V --temp C: the SF6 conversion; archive p20 --record N: the record's check.
int p20Command(const QCommandLineParser& p);
int archiveP20Command(const QCommandLineParser& p, const sf6::Archive& archive);
// archive audit: the audit trail.
int auditCommand(const QCommandLineParser& p, const sf6::Archive& archive);
// archive copy --to LOCATION | backup [--to FILE]: the whole archive elsewhere.
int copyCommand(const QCommandLineParser& p, const sf6::Archive& archive);
int backupCommand(const QCommandLineParser& p, const sf6::Archive& archive);
// archive merge --from FILE...: other archives brought into this one.
int mergeCommand(const QCommandLineParser& p, const QStringList& arguments, sf6::Archive& archive);
// archive restore --from FILE [--archive LOCATION]: a verified backup into the archive's place.
int restoreCommand(const QCommandLineParser& p);
// archive backups | backup-settings: the backup folder's backups; the settings shown or changed.
int backupsCommand(const QCommandLineParser& p);
int backupSettingsCommand(const QCommandLineParser& p);

// verify-pdf FILE [--trust FILE] [--archive LOCATION]: a customer's certificate PDF checked.
int verifyPdfCommand(const QCommandLineParser& p, const QStringList& files);

} // namespace cli
