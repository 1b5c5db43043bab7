#pragma once

#include "database/schema.h"

// The layout steps of the tables on a PostgreSQL server, shared by every
// registry that uses the database. The rules of qbrx.dat hold here too, in
// the schema itself: names unique without regard to ASCII case, the text
// limits in characters, bytes 0..255, the empty text distinct from NULL.
// The version is kept in the table SchemaVersion; registries starting at
// the same moment take turns under an advisory lock.
namespace PostgresSchema {

const Schema::EngineSteps& steps();

// The advisory lock key under which the steps run (the registry's port).
constexpr long long kStepsLock = 5679;

// The channel on which every change of the bans is announced (version 2).
constexpr const char* kBansChannel = "tav_bans";

} // namespace PostgresSchema
