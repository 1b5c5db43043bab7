#pragma once

#include <QString>

class RegistryDatabase;

// Which engine a store or protocol test runs on: SQLite in the test's data
// folder (the default), or with TAV_TEST_ENGINE=postgres a fresh database of
// the test's own PostgreSQL server, so that one test source checks both.
namespace TestEngine {

bool isPostgres();
// Empty when the chosen engine can be used; otherwise why not (for QSKIP).
QString unavailableReason();
// A connection string of a new, empty database; empty + `error` when none.
QString newDatabase(QString* error);
// Opens `db` on the chosen engine: dataDir/qbrx.dat, or a new database.
bool open(RegistryDatabase& db, const QString& dataDir, QString* error);

} // namespace TestEngine
