#pragma once

#include "database/store_statement.h"

#include <functional>

// What every change of the record sets passes through. Before a change, and
// again before it is reported done, the gate asks whether the open file is
// still the file at its path: one moved, replaced, shortened or removed
// underneath is never written again (its pages would land in a file nobody
// reads, and its journal beside whatever is at the path now), and a change
// made meanwhile is not reported as stored. Changes the engine refuses for a
// reason other than the record itself (a full disk, an I/O error) are told to
// `writeFailed`.
class WriteGate {
public:
    std::function<bool()> fileIsOurs;
    std::function<void(StoreRefusal why)> writeFailed;

    StoreStatement::Outcome run(StoreStatement& change) const;
};

// Runs a change through the gate, or plainly when there is none.
inline StoreStatement::Outcome runChange(const WriteGate* gate, StoreStatement& change) {
    return gate ? gate->run(change) : change.execute();
}
