// The database figures: the login look-up against the bare engine, the
// start-up (check + compact + open), the file sizes, and the admission decision.
//
//   bench_database [accounts=100000] [lookups=200000]
#include "database/database_file.h"
#include "database/registry_database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void die(const char* what, sqlite3* db) {
    std::fprintf(stderr, "%s: %s\n", what, db ? sqlite3_errmsg(db) : "");
    std::exit(1);
}

void exec(sqlite3* db, const char* sql) {
    char* msg = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, msg);
        std::exit(1);
    }
}

QString userName(int i) { return QStringLiteral("srv%1").arg(i, 7, 10, QLatin1Char('0')); }

// Fills Servers with `n` accounts plus `churn` that are deleted again, as a
// long-running registry accumulates free pages.
void fill(const QString& path, int n, int churn) {
    sqlite3* db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        die("open", db);
    exec(db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Servers (User, Password, Name, Description, UpdateURL, Official) "
                           "VALUES (?, 'password1', ?, 'A description of moderate length for this server', "
                           "'http://update.example/srv', 0)", -1, &ins, nullptr);
    for (int i = 0; i < n + churn; ++i) {
        const QByteArray user = userName(i).toUtf8();
        const QByteArray name = (QStringLiteral("Server number ") + QString::number(i)).toUtf8();
        sqlite3_bind_text(ins, 1, user.constData(), int(user.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(ins) != SQLITE_DONE)
            die("insert", db);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    exec(db, "COMMIT");
    if (churn > 0) {
        const QByteArray del = QStringLiteral("DELETE FROM Servers WHERE rowid > %1").arg(n).toUtf8();
        exec(db, del.constData());
    }
    sqlite3_close(db);
}

double perOpMicros(qint64 ns, int ops) { return double(ns) / 1000.0 / ops; }

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int accounts = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int lookups = argc > 2 ? std::atoi(argv[2]) : 200000;
    QTemporaryDir dir;
    const QString path = DatabaseFile::databasePath(dir.path());

    {
        RegistryDatabase db;
        QString error;
        if (!db.open(dir.path(), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    fill(path, accounts, accounts / 5);
    const qint64 sizeBefore = QFileInfo(path).size();

    // Start-up: check + compact + open.
    RegistryDatabase db;
    QElapsedTimer t;
    t.start();
    QString error;
    if (!db.open(dir.path(), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const qint64 startupNs = t.nsecsElapsed();
    const qint64 sizeAfter = QFileInfo(path).size();

    // The names looked up: 90 % present (in a different case half of the time), 10 % unknown.
    std::vector<QString> names;
    names.reserve(size_t(lookups));
    QRandomGenerator rng(42);
    for (int i = 0; i < lookups; ++i) {
        const int k = int(rng.bounded(accounts + accounts / 9));
        QString n = userName(k);
        if (rng.bounded(2))
            n = n.toUpper();
        names.push_back(n);
    }

    int found = 0;
    t.restart();
    for (const QString& n : names)
        found += db.accounts().find(n).has_value();
    const qint64 oursNs = t.nsecsElapsed();

    sqlite3* bare = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &bare, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(bare, "SELECT rowid, User, Password, Name, Description, UpdateURL, Official FROM Servers "
                             "WHERE User = ?", -1, &q, nullptr);
    int bareFound = 0;
    std::string sink;
    t.restart();
    for (const QString& n : names) {
        // The same work a caller must do: from QString to the engine and back to owned text.
        const QByteArray key = n.toUtf8();
        sqlite3_bind_text(q, 1, key.constData(), int(key.size()), SQLITE_STATIC);
        if (sqlite3_step(q) == SQLITE_ROW) {
            ++bareFound;
            for (int c = 1; c <= 5; ++c)
                sink.assign(reinterpret_cast<const char*>(sqlite3_column_text(q, c)));
            (void)sqlite3_column_int64(q, 0);
            (void)sqlite3_column_int(q, 6);
        }
        sqlite3_reset(q);
    }
    const qint64 bareNs = t.nsecsElapsed();
    sqlite3_finalize(q);
    sqlite3_close(bare);
    if (found != bareFound) {
        std::fprintf(stderr, "look-ups disagree: %d vs %d\n", found, bareFound);
        return 1;
    }

    std::printf("accounts: %d, look-ups: %d (%d found)\n", accounts, lookups, found);
    std::printf("| start-up (check + compact + open) | %.1f ms |\n", double(startupNs) / 1e6);
    std::printf("| file before start-up (after %d deletions) | %lld bytes |\n", accounts / 5,
                static_cast<long long>(sizeBefore));
    std::printf("| file after compaction | %lld bytes |\n", static_cast<long long>(sizeAfter));
    std::printf("| AccountSet::find | %.2f us |\n", perOpMicros(oursNs, lookups));
    std::printf("| bare sqlite3 prepared statement | %.2f us |\n", perOpMicros(bareNs, lookups));
    std::printf("| ratio | %.2f |\n", double(oursNs) / double(bareNs));
    return 0;
}
