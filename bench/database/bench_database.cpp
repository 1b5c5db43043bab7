// The database figures: the login look-up against the bare engine, the
// start-up (check + compact + open), the file sizes, the admission decision,
// and what the per-address limits add to each accept.
//
//   bench_database [accounts=100000] [lookups=200000]
#include "database/database_file.h"
#include "database/registry_database.h"
#include "host/address_limits.h"
#include "host/admission_control.h"
#include "platform/tick_clock.h"
#include "protocol/slot_table.h"

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

    // Both connections are warmed with the same first tenth of the names.
    for (size_t i = 0; i < names.size() / 10; ++i)
        (void)db.accounts().find(names[i]);

    int found = 0;
    t.restart();
    for (const QString& n : names)
        found += db.accounts().find(n).has_value();
    const qint64 oursNs = t.nsecsElapsed();

    sqlite3* bare = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &bare, SQLITE_OPEN_READONLY, nullptr);
    // The same settings as the registry's own connection.
    exec(bare, "PRAGMA locking_mode = EXCLUSIVE");
    exec(bare, "PRAGMA cache_size = -16384");
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(bare, "SELECT rowid, User, Password, Name, Description, UpdateURL, Official FROM Servers "
                             "WHERE User = ?", -1, &q, nullptr);
    std::string sink;
    for (size_t i = 0; i < names.size() / 10; ++i) {
        const QByteArray key = names[i].toUtf8();
        sqlite3_bind_text(q, 1, key.constData(), int(key.size()), SQLITE_STATIC);
        (void)sqlite3_step(q);
        sqlite3_reset(q);
    }
    int bareFound = 0;
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

    // Admission with 10,000 bans. Ban numbers are bytes, so the real table
    // holds at most 256; the figure is for the look-ups, which use the IP
    // index either way, on a scratch file whose key has no byte limit.
    const int banCount = 10000;
    const int decisions = 100000;
    {
        QTemporaryDir banDir;
        RegistryDatabase banDb;
        banDb.open(banDir.path(), &error);
        banDb.close();
        sqlite3* raw = nullptr;
        sqlite3_open(QFile::encodeName(DatabaseFile::databasePath(banDir.path())).constData(), &raw);
        exec(raw, "BEGIN");
        exec(raw, "DROP TABLE Bans");
        exec(raw, "CREATE TABLE Bans (Number INTEGER PRIMARY KEY, Name TEXT COLLATE NOCASE, IP TEXT COLLATE NOCASE, "
                  "Reason TEXT, UnbanDate TEXT)");
        exec(raw, "CREATE INDEX BansIP ON Bans (IP)");
        exec(raw, "CREATE INDEX BansName ON Bans (Name)");
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(raw, "INSERT INTO Bans VALUES (?, ?, ?, NULL, '2099-01-01')", -1, &ins, nullptr);
        for (int i = 1; i <= banCount; ++i) {
            const QByteArray name = QStringLiteral("ban%1").arg(i).toUtf8();
            // Half exact hosts, half /24 networks, all in 10.x.y.
            const QByteArray ip = (i % 2 ? QStringLiteral("10.%1.%2.%3").arg(i / 200).arg(i % 200).arg(1 + i % 250)
                                         : QStringLiteral("10.%1.%2.0").arg(i / 200).arg(i % 200))
                                      .toUtf8();
            sqlite3_bind_int(ins, 1, i);
            sqlite3_bind_text(ins, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 3, ip.constData(), int(ip.size()), SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        exec(raw, "COMMIT");
        sqlite3_close(raw);

        RegistryDatabase scratch;
        if (!scratch.open(banDir.path(), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        const QDate today = QDate::currentDate();
        int banned = 0;
        t.restart();
        for (int i = 0; i < decisions; ++i) {
            // 172.16.x.y is never banned: the worst case, three look-ups.
            const QString caller = QStringLiteral("172.16.%1.%2").arg(i % 250).arg(i % 200);
            banned += decideAdmission(scratch.bans(), caller, today) == Admission::Banned;
        }
        const qint64 missNs = t.nsecsElapsed();
        t.restart();
        for (int i = 0; i < decisions; ++i) {
            const int k = 2 + 2 * (i % (banCount / 2 - 1)); // an even ban: a /24 network, found by the second look-up
            const QString caller = QStringLiteral("10.%1.%2.77").arg(k / 200).arg(k % 200);
            banned += decideAdmission(scratch.bans(), caller, today) == Admission::Banned;
        }
        const qint64 hitNs = t.nsecsElapsed();
        std::printf("| admission, %d bans, caller not banned (3 look-ups) | %.2f us |\n", banCount,
                    perOpMicros(missNs, decisions));
        std::printf("| admission, %d bans, caller in a banned /24 (2 look-ups) | %.2f us (%d refused) |\n",
                    banCount, perOpMicros(hitNs, decisions), banned);
    }

    // The per-address limits at accept: the slots the caller's address holds
    // (a scan of the 255 slots) against connections_per_address, with the
    // exempt blocks checked; then the lockout check of its login, with every
    // address slot of the bookkeeping taken by earlier failures.
    {
        SystemTickClock clock;
        AddressLimits limits(clock, {});
        LimitSettings settings;
        settings.connectionsPerAddress = 8;
        settings.exempt = *AddressSet::parse(QStringLiteral("127.0.0.0/8 ::1 192.0.2.0/24"), nullptr);
        limits.apply(settings);
        SlotTable table;
        for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
            table[i].InUse = true;
            table[i].IP = QStringLiteral("198.51.%1.%2").arg(i % 7).arg(i).toLatin1();
        }
        std::vector<QByteArray> callers;
        for (int i = 0; i < 4096; ++i)
            callers.push_back(QStringLiteral("203.0.%1.%2").arg(i / 256).arg(i % 256).toLatin1());
        const int accepts = 200000;
        int refused = 0;
        t.restart();
        for (int i = 0; i < accepts; ++i) {
            const QByteArray& ip = callers[std::size_t(i) % callers.size()];
            refused += limits.connectionRefused(ip, table.slotsHeldBy(ip));
        }
        const qint64 capNs = t.nsecsElapsed();
        for (std::size_t i = 0; i < AddressLimits::kMaxTracked; ++i)
            limits.loginFailed(QStringLiteral("100.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255).toLatin1());
        t.restart();
        for (int i = 0; i < accepts; ++i)
            refused += limits.loginLockedOut(callers[std::size_t(i) % callers.size()]);
        const qint64 lockNs = t.nsecsElapsed();
        t.restart();
        for (int i = 0; i < accepts; ++i)
            limits.loginFailed(callers[std::size_t(i) % callers.size()]);
        const qint64 failNs = t.nsecsElapsed();
        std::printf("| per-address cap at accept (255 slots scanned, 3 exempt blocks) | %.2f us (%d refused) |\n",
                    perOpMicros(capNs, accepts), refused);
        std::printf("| lockout check of a login, %zu addresses tracked | %.2f us |\n", limits.trackedCount(),
                    perOpMicros(lockNs, accepts));
        std::printf("| failed login recorded (dropping the oldest address when full) | %.2f us |\n",
                    perOpMicros(failNs, accepts));
    }
    return 0;
}
