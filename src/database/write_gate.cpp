#include "database/write_gate.h"

#include <sqlite3.h>

int WriteGate::fileMovedCode() { return SQLITE_READONLY_DBMOVED; }

SqliteStatement::Outcome WriteGate::run(SqliteStatement& change) const {
    SqliteStatement::Outcome outcome;
    const auto refuse = [&] {
        outcome = SqliteStatement::Outcome{};
        outcome.code = fileMovedCode();
        if (writeFailed)
            writeFailed(outcome.code);
        return outcome;
    };
    if (fileIsOurs && !fileIsOurs()) {
        change.done();
        return refuse();
    }
    outcome = change.execute();
    if (!outcome.ran()) {
        if ((outcome.code & 0xFF) != SQLITE_CONSTRAINT && writeFailed)
            writeFailed(outcome.code);
        return outcome;
    }
    if (fileIsOurs && !fileIsOurs())
        return refuse();
    return outcome;
}
