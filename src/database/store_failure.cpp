#include "database/store_failure.h"

namespace StoreFailure {

QString tooLong(const char* field, int limit) {
    return QStringLiteral("The %1 is longer than %2 characters.").arg(QLatin1String(field)).arg(limit);
}

QString outOfRange(const char* field, int lowest, int highest) {
    return QStringLiteral("The %1 must be a number from %2 to %3.").arg(QLatin1String(field)).arg(lowest).arg(highest);
}

QString notOpen() { return QStringLiteral("The database is not open."); }

QString fromRefusal(StoreRefusal refusal, const QString& duplicate) {
    switch (refusal) {
    case StoreRefusal::Duplicate:
        return duplicate;
    case StoreRefusal::MissingValue:
        return QStringLiteral("A required field is empty.");
    case StoreRefusal::DoesNotFit:
        return QStringLiteral("A value does not fit its field.");
    case StoreRefusal::DiskFull:
        return QStringLiteral("The disk is full.");
    case StoreRefusal::FileNotWritable:
        return QStringLiteral("The database file cannot be written.");
    case StoreRefusal::NotPermitted:
        return QStringLiteral("The database server does not let this registry make the change.");
    case StoreRefusal::Busy:
        return QStringLiteral("The database is in use by another program.");
    case StoreRefusal::Unreadable:
        return QStringLiteral("The database file cannot be read or written.");
    case StoreRefusal::Unreachable:
        return QStringLiteral("The database server cannot be reached.");
    case StoreRefusal::FileLost:
        return QStringLiteral("The database file has been moved, replaced or removed; nothing more is written to it.");
    case StoreRefusal::None:
    case StoreRefusal::Other:
        break;
    }
    return QStringLiteral("The database refused the change.");
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
