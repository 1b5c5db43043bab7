#pragma once

#include "database/store_statement.h"

#include <QString>
#include <memory>

class WriteGate;

// The accounts online at the registries that share one PostgreSQL database.
// This registry keeps one row per account it has logged in, under a lease
// of its own (one row of Registries) that it renews; a row whose registry
// has let its lease lapse (it died, or lost the database for longer than the
// lease) may be taken by another. The server's clock decides, so the
// registries' own clocks do not matter. On qbrx.dat there is nobody to share
// with: every claim is granted and nothing is written.
class PresenceTable {
public:
    enum class Claim {
        Granted,
        HeldElsewhere, // online at another registry whose lease runs
        Unavailable,   // the database did not answer
    };

    PresenceTable();
    ~PresenceTable();
    PresenceTable(const PresenceTable&) = delete;
    PresenceTable& operator=(const PresenceTable&) = delete;

    // Prepares the statements on a PostgreSQL connection under this
    // registry's identity; false when the tables do not fit.
    bool attach(const QString& connectionName, const QString& registryId, int leaseSeconds);
    void detach();
    bool isShared() const { return m_attached; }
    void setWriteGate(const WriteGate* gate) { m_gate = gate; }
    QString registryId() const { return m_registryId; }
    int leaseSeconds() const { return m_leaseSeconds; }

    // Takes the account for this registry.
    Claim claim(const QString& user);
    // Gives it back (the session ended); nothing when it is not ours.
    void release(const QString& user);
    // Gives back every account held here (before claiming again those still
    // online: a release that could not be written must not keep one).
    void releaseAll();
    // Takes or extends the lease; false when it could not be written.
    bool renew();
    // A clean end: the lease and every row under it go at once.
    void leave();
    // Leases that lapsed long ago, with their rows (nobody can be waiting for them).
    void sweep();

private:
    bool m_attached = false;
    const WriteGate* m_gate = nullptr;
    QString m_registryId;
    int m_leaseSeconds = 30;
    std::unique_ptr<StoreStatement> m_claim, m_release, m_releaseAll, m_renew, m_leave, m_sweep;
};
