#include "database/schema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

// A text column that may be NULL, holds only text, and at most `size` characters.
QString textColumn(const char* name, int size, const char* collate = "") {
    return QStringLiteral("%1 TEXT%3 CHECK (%1 IS NULL OR (typeof(%1) = 'text' AND length(%1) <= %2))")
        .arg(QLatin1String(name))
        .arg(size)
        .arg(QLatin1String(collate));
}

// A byte column: NULL or a whole number from 0 to 255.
QString byteColumn(const char* name) {
    return QStringLiteral("%1 INTEGER CHECK (%1 IS NULL OR (typeof(%1) = 'integer' AND %1 BETWEEN 0 AND 255))")
        .arg(QLatin1String(name));
}

QStringList createStatements() {
    // Servers: the account name is the key and compares without regard to
    // ASCII case, so abc and ABC cannot both exist. Rowids serve as bookmarks.
    const QString servers =
        QStringLiteral("CREATE TABLE Servers (") +
        QStringLiteral("User TEXT NOT NULL COLLATE NOCASE PRIMARY KEY "
                       "CHECK (typeof(User) = 'text' AND length(User) <= 15), ") +
        textColumn("Password", 15) + QStringLiteral(", ") + textColumn("Name", 50) + QStringLiteral(", ") +
        textColumn("Description", 255) + QStringLiteral(", ") + textColumn("UpdateURL", 255) +
        QStringLiteral(", ") + byteColumn("Official") + QStringLiteral(", ") + byteColumn("Date") +
        QStringLiteral(", ") + byteColumn("Time") + QStringLiteral(")");

    // Bans: the number is the key and a byte; the unban date is an ISO day.
    const QString bans =
        QStringLiteral("CREATE TABLE Bans (") +
        QStringLiteral("Number INTEGER NOT NULL PRIMARY KEY "
                       "CHECK (typeof(Number) = 'integer' AND Number BETWEEN 0 AND 255), ") +
        textColumn("Name", 15, " COLLATE NOCASE") + QStringLiteral(", ") +
        textColumn("IP", 15, " COLLATE NOCASE") + QStringLiteral(", ") + textColumn("Reason", 255) +
        QStringLiteral(", UnbanDate TEXT CHECK (UnbanDate IS NULL OR (typeof(UnbanDate) = 'text' AND "
                       "UnbanDate GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND "
                       "date(UnbanDate, '+0 days') = UnbanDate)))");

    return {servers, bans,
            // Every accept looks bans up by address; the dialogs look them up by name.
            QStringLiteral("CREATE INDEX BansIP ON Bans (IP)"),
            QStringLiteral("CREATE INDEX BansName ON Bans (Name)"),
            QStringLiteral("PRAGMA user_version = %1").arg(Schema::kVersion)};
}

bool run(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

int intPragma(QSqlDatabase& db, const QString& sql, bool* ok) {
    QSqlQuery q(db);
    *ok = q.exec(sql) && q.next();
    return *ok ? q.value(0).toInt() : 0;
}

} // namespace

namespace Schema {

bool create(QSqlDatabase& db, QString* error) {
    if (!db.transaction()) {
        if (error)
            *error = db.lastError().text();
        return false;
    }
    for (const QString& sql : createStatements()) {
        if (!run(db, sql, error)) {
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        if (error)
            *error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool ensureCurrent(QSqlDatabase& db, QString* error) {
    bool ok = false;
    const int version = intPragma(db, QStringLiteral("PRAGMA user_version"), &ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot read the schema version");
        return false;
    }
    const int tables = intPragma(
        db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('Servers', 'Bans')"),
        &ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot read the list of tables");
        return false;
    }
    if (version == 0 && tables == 0)
        return create(db, error); // a creation that never completed left an empty file
    if (version > kVersion) {
        if (error)
            *error = QStringLiteral("the file was written by a newer program (schema version %1)").arg(version);
        return false;
    }
    if (tables != 2) {
        if (error)
            *error = QStringLiteral("the tables Servers and Bans are not both present");
        return false;
    }
    return true;
}

} // namespace Schema
