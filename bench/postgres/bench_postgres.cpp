// The login look-up (AccountSet::find by name, as at every login) on
// qbrx.dat beside the same on a PostgreSQL database.
//
//   bench_postgres CONNECTION-STRING [accounts] [look-ups]
//
// The database must be empty (the bench fills and empties it).
#include "database/registry_database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

struct Figures {
    double fillMs = 0;
    double lookupMicros = 0;
    int found = 0;
};

bool run(RegistryDatabase& db, int accounts, int lookups, Figures* out) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < accounts; ++i) {
        AccountRecord r;
        r.User = QStringLiteral("Server%1").arg(i);
        r.Password = QStringLiteral("pw%1").arg(i);
        r.Name = QStringLiteral("Server number %1").arg(i);
        r.Description = QStringLiteral("A description");
        r.UpdateURL = QString(QLatin1String(""));
        r.Official = i % 2;
        QString error;
        if (db.accounts().add(r, &error) == 0) {
            std::fprintf(stderr, "add: %s\n", qPrintable(error));
            return false;
        }
    }
    out->fillMs = double(timer.nsecsElapsed()) / 1e6;
    // A fixed spread of names, one in ten unknown, in a different case.
    timer.restart();
    quint32 x = 12345;
    for (int i = 0; i < lookups; ++i) {
        x = x * 1103515245u + 12345u;
        const int n = int(x % quint32(accounts + accounts / 10));
        if (db.accounts().find(QStringLiteral("SERVER%1").arg(n)))
            ++out->found;
    }
    out->lookupMicros = double(timer.nsecsElapsed()) / 1e3 / lookups;
    return db.accounts().removeAll();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CONNECTION-STRING [accounts] [look-ups]\n", argv[0]);
        return 2;
    }
    const QString url = QString::fromLocal8Bit(argv[1]);
    const int accounts = argc > 2 ? std::atoi(argv[2]) : 10000;
    const int lookups = argc > 3 ? std::atoi(argv[3]) : 20000;

    QTemporaryDir dir;
    RegistryDatabase sqlite;
    RegistryDatabase postgres;
    QString error;
    if (!sqlite.open(dir.path(), &error) || !postgres.openServer(url, QString(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    if (postgres.accounts().count() != 0) {
        std::fprintf(stderr, "the database is not empty\n");
        return 1;
    }
    Figures onFile, onServer;
    if (!run(sqlite, accounts, lookups, &onFile) || !run(postgres, accounts, lookups, &onServer))
        return 1;
    if (onFile.found != onServer.found) {
        std::fprintf(stderr, "look-ups disagree: %d vs %d\n", onFile.found, onServer.found);
        return 1;
    }
    std::printf("accounts: %d, look-ups: %d (%d found)\n", accounts, lookups, onFile.found);
    std::printf("| | qbrx.dat (SQLite) | PostgreSQL |\n|---|---|---|\n");
    std::printf("| %d registrations (one add each) | %.0f ms | %.0f ms |\n", accounts, onFile.fillMs, onServer.fillMs);
    std::printf("| AccountSet::find | %.2f us | %.2f us |\n", onFile.lookupMicros, onServer.lookupMicros);
    return 0;
}
