#include "database/schema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <optional>

namespace {

// The engine's own words without the driver's ("Unable to fetch row").
QString engineText(const QSqlError& error) {
    const QString text = error.databaseText();
    return text.isEmpty() ? error.driverText() : text;
}

std::optional<int> readInteger(QSqlDatabase& db, const QString& sql) {
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return std::nullopt;
    return q.value(0).toInt();
}

// Runs `statements` and stamps `version`, all in one transaction.
bool runInTransaction(QSqlDatabase& db, const QStringList& statements, const Schema::EngineSteps& engine,
                      int version, QString* why) {
    if (!db.transaction()) {
        *why = engineText(db.lastError());
        return false;
    }
    QSqlQuery q(db);
    for (const QString& sql : statements + QStringList{engine.stampVersion.arg(version)}) {
        if (!q.exec(sql)) {
            *why = engineText(q.lastError());
            q.finish();
            db.rollback();
            return false;
        }
    }
    q.finish();
    if (!db.commit()) {
        *why = engineText(db.lastError());
        db.rollback();
        return false;
    }
    return true;
}

bool fail(QString* error, const QString& why) {
    if (error)
        *error = why;
    return false;
}

bool runAll(QSqlDatabase& db, const QStringList& statements, QString* why) {
    QSqlQuery q(db);
    for (const QString& sql : statements)
        if (!q.exec(sql)) {
            *why = engineText(q.lastError());
            return false;
        }
    return true;
}

bool runSteps(QSqlDatabase& db, const Schema::EngineSteps& engine, QString* error) {
    using Schema::Step;
    const std::optional<int> read = readInteger(db, engine.readVersion);
    if (!read)
        return fail(error, QStringLiteral("cannot read the schema version"));
    int version = *read;
    if (version > engine.latest())
        return fail(error, QStringLiteral("the database was written by a newer program (schema version %1; this "
                                          "program knows versions up to %2); it is left as it is")
                               .arg(version)
                               .arg(engine.latest()));
    const std::optional<int> tables = readInteger(db, engine.countTables);
    if (!tables)
        return fail(error, QStringLiteral("cannot read the list of tables"));
    QString why;
    if (version == 0 && *tables == 2) {
        if (!runInTransaction(db, {}, engine, 1, &why))
            return fail(error, QStringLiteral("cannot stamp the schema version: ") + why);
        version = 1;
    } else if (!(version == 0 && *tables == 0) && *tables != 2) {
        // An empty file (a creation that never completed) gets every step.
        return fail(error, QStringLiteral("the tables Servers and Bans are not both present"));
    }
    for (const Step& step : engine.steps) {
        if (step.version <= version)
            continue;
        if (!runInTransaction(db, step.statements, engine, step.version, &why))
            return fail(error, QStringLiteral("schema step %1 (%2) failed: %3")
                                   .arg(step.version)
                                   .arg(QLatin1String(step.purpose), why));
        version = step.version;
    }
    return true;
}

} // namespace

namespace Schema {

bool bringUpToDate(QSqlDatabase& db, const EngineSteps& engine, QString* error) {
    QString why;
    const bool ok = runAll(db, engine.setUp, &why)
                        ? runSteps(db, engine, error)
                        : fail(error, QStringLiteral("cannot prepare the schema version: ") + why);
    QString ignored;
    runAll(db, engine.tearDown, &ignored);
    return ok;
}

} // namespace Schema
