#pragma once

#include "database/schema.h"

// The layout steps of qbrx.dat under SQLite, and where SQLite keeps the
// version (PRAGMA user_version). The limits live in the schema itself, so
// that the file refuses what it must refuse whoever writes to it.
namespace SqliteSchema {

const Schema::EngineSteps& steps();

} // namespace SqliteSchema
