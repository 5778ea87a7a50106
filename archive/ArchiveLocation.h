#pragma once
// Where the archive lives: an SQLite file on this PC, or a PostgreSQL database
// shared by a lab. Both programs choose it the same way: --archive LOCATION,
// else SF6_ARCHIVE, else one SQLite file in the user's data folder;
// --no-archive turns it off. A password is never part of a location: libpq
// takes it from PGPASSWORD or ~/.pgpass, and no text of ours shows it.

#include "base/Status.h"

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace sf6 {

struct ArchiveLocation {
    enum class Engine { Off, SQLite, PostgreSQL };
    Engine engine = Engine::Off;
    QString path;       // SQLite: the file
    QString host;       // PostgreSQL: a host name, or the folder of its Unix socket
    int port = -1;      // -1: the engine's default
    QString database;
    QString user;       // empty: the system user, as libpq does
    // PostgreSQL: the URL's other parameters (sslmode, connect_timeout, ...),
    // handed to libpq as they stand.
    std::vector<std::pair<QString, QString>> parameters;

    bool off() const { return engine == Engine::Off; }
    // How messages name it: the file, or postgresql://user@host:port/db.
    QString display() const;
    // The same for every text that names the same archive and connection:
    // what the process shares one connection by.
    QString identity() const;
    // Whether a URL parameter may be passed to libpq: the one place that
    // decides, with the reason in Chinese when not.
    static Status checkParameter(const QString& name, const QString& value);

    // A file path, postgresql://USER@HOST:PORT/DBNAME or
    // postgresql:///DBNAME?host=/socket/dir&port=N.
    static Expected<ArchiveLocation> parse(const QString& text);
    // <GenericDataLocation>/sf6companion/archive.sqlite: one archive for the
    // window and the command line alike.
    static ArchiveLocation standard();
    // <GenericDataLocation>/sf6companion/demo.sqlite: the demos' simulated
    // records never mix with real ones.
    static ArchiveLocation demo();
    // The option if given, else SF6_ARCHIVE, else the standard file; for a demo
    // the option if given, else the demo's own file.
    static Expected<ArchiveLocation> choose(const std::optional<QString>& option, bool off, bool forDemo = false);
};

inline constexpr char kArchiveEnvironment[] = "SF6_ARCHIVE";

} // namespace sf6
