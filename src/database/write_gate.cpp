#include "database/write_gate.h"

namespace {
// Refusals that concern the record itself, not the store.
bool aboutTheRecord(StoreRefusal why) {
    return why == StoreRefusal::Duplicate || why == StoreRefusal::MissingValue || why == StoreRefusal::DoesNotFit;
}
} // namespace

StoreStatement::Outcome WriteGate::run(StoreStatement& change) const {
    StoreStatement::Outcome outcome;
    const auto refuse = [&] {
        outcome = StoreStatement::Outcome{};
        outcome.refusal = StoreRefusal::FileLost;
        if (writeFailed)
            writeFailed(outcome.refusal);
        return outcome;
    };
    if (fileIsOurs && !fileIsOurs()) {
        change.done();
        return refuse();
    }
    outcome = change.execute();
    if (!outcome.ran()) {
        if (!aboutTheRecord(outcome.refusal) && writeFailed)
            writeFailed(outcome.refusal);
        return outcome;
    }
    if (fileIsOurs && !fileIsOurs())
        return refuse();
    return outcome;
}
