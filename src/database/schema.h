#pragma once

#include <QString>

class QSqlDatabase;

// The layout of qbrx.dat. The limits live in the schema itself, so that the
// file refuses what it must refuse whoever writes to it.
namespace Schema {

// PRAGMA user_version of a file with the current layout. Files with a lower
// number are migrated when opened; 0 means "no tables yet".
constexpr int kVersion = 1;

// Creates both tables and their indexes in one transaction and stamps the
// version. False + the engine's message when refused.
bool create(QSqlDatabase& db, QString* error);

// Brings an open file to the current layout: creates the tables in an empty
// file; refuses a file from a newer program or with missing tables.
bool ensureCurrent(QSqlDatabase& db, QString* error);

} // namespace Schema
