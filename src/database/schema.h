#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QSqlDatabase;

// The layout of the database as numbered steps. Step N brings a file of version
// N-1 to version N; a step is never changed once released, a change of layout
// is a new step. At start-up the steps a file lacks run in order, each in one
// transaction that also stamps its number, so that a failed step leaves the
// database at the last version it reached.
namespace Schema {

struct Step {
    int version;
    const char* purpose;     // for the message when it fails
    QStringList statements;
};

// The steps and the version bookkeeping of one database engine.
struct EngineSteps {
    QList<Step> steps;          // versions 1, 2, ... in order
    QString readVersion;        // one row, one integer
    QString stampVersion;       // %1 = the version reached
    QString countTables;        // one row: how many of Servers and Bans exist
    // Run before the version is read and after the last step, whatever
    // happened: where several programs may bring one database up to date at
    // once, they take and release a lock here.
    QStringList setUp;
    QStringList tearDown;
    int latest() const { return steps.isEmpty() ? 0 : steps.last().version; }
};

// Brings an open file to the latest version: runs every step of an empty
// file; stamps a file of version 0 that already holds both tables (written
// before versions were kept, in the layout of step 1) and migrates it; refuses
// a file from a newer program or with a table missing. False + why.
bool bringUpToDate(QSqlDatabase& db, const EngineSteps& engine, QString* error);

} // namespace Schema
