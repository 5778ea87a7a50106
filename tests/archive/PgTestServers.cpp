// pg_test_servers FILE: starts the tests' TCP and TLS PostgreSQL servers
// (PgServer.h) for the Windows test programs under Wine, which cannot start a
// Linux server themselves; writes their lines into FILE and keeps them until
// it is told to stop (SIGTERM, SIGINT, SIGHUP) or the script that started it
// is gone.
//   tcp PORT USER
//   tls PORT USER CA-FILE WRONG-CA-FILE
#include "tests/archive/PgServer.h"

#include <QCoreApplication>
#include <QSaveFile>

#include <csignal>
#include <ctime>
#include <iostream>

#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: pg_test_servers FILE\n";
        return 2;
    }
    using archivetest::PgServer;
    PgServer& tcp = PgServer::withTcp();
    PgServer& tls = PgServer::withTls();
    if (!tcp.running() || !tls.running()) {
        std::cerr << "pg_test_servers: " << (tcp.running() ? tls : tcp).error().toStdString() << "\n";
        PgServer::shutdown();
        return 1;
    }
    // Written whole or not at all: the script waits for the file.
    QSaveFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly)) {
        PgServer::shutdown();
        return 1;
    }
    out.write(QStringLiteral("tcp %1 %2\ntls %3 %4 %5 %6\n")
                  .arg(tcp.port()).arg(tcp.user()).arg(tls.port())
                  .arg(tls.user(), tls.caFile(), tls.wrongCaFile()).toUtf8());
    if (!out.commit()) {
        PgServer::shutdown();
        return 1;
    }
    // Waited for, not handled: the servers are stopped below whichever comes.
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stops, signal);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    const pid_t parent = getppid();
    const timespec second{1, 0};
    while (getppid() == parent && sigtimedwait(&stops, nullptr, &second) < 0) {
    }
    PgServer::shutdown();
    return 0;
}
