#pragma once

#include <QString>

// Moving a registry's qbrx.dat over to a shared PostgreSQL database: every
// account and ban, every column as it is (NULL stays NULL, the empty text
// stays text), in one transaction, into a database whose tables are empty.
namespace DatabaseCopy {

enum class Result {
    Copied,
    NotEmpty, // the target holds accounts or bans already: nothing copied
    Failed,
};

// `summary` says what was copied, `error` why not.
Result copy(const QString& dataDir, const QString& url, const QString& password, QString* summary, QString* error);

} // namespace DatabaseCopy
