#include "database/store_failure.h"

#include <sqlite3.h>

namespace StoreFailure {

QString tooLong(const char* field, int limit) {
    return QStringLiteral("The %1 is longer than %2 characters.").arg(QLatin1String(field)).arg(limit);
}

QString outOfRange(const char* field, int lowest, int highest) {
    return QStringLiteral("The %1 must be a number from %2 to %3.").arg(QLatin1String(field)).arg(lowest).arg(highest);
}

QString notOpen() { return QStringLiteral("The database is not open."); }

QString fromEngine(int extendedCode, const QString& duplicate) {
    switch (extendedCode) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
        return duplicate;
    case SQLITE_CONSTRAINT_NOTNULL:
        return QStringLiteral("A required field is empty.");
    case SQLITE_READONLY_DBMOVED:
        return QStringLiteral("The database file has been moved, replaced or removed; nothing more is written to it.");
    default:
        break;
    }
    switch (extendedCode & 0xFF) {
    case SQLITE_CONSTRAINT:
        return QStringLiteral("A value does not fit its field.");
    case SQLITE_FULL:
        return QStringLiteral("The disk is full.");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return QStringLiteral("The database file cannot be written.");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("The database is in use by another program.");
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
        return QStringLiteral("The database file cannot be read or written.");
    default:
        return QStringLiteral("The database refused the change.");
    }
}

void checkLength(QString& refusal, const QString& value, int size, const char* field) {
    if (!refusal.isEmpty())
        return;
    int n = 0;
    for (const QChar c : value)
        if (!c.isLowSurrogate())
            ++n;
    if (n > size)
        refusal = tooLong(field, size);
}

} // namespace StoreFailure
