#include "database/presence_table.h"

#include "database/store_engine.h"
#include "database/write_gate.h"

PresenceTable::PresenceTable() = default;
PresenceTable::~PresenceTable() = default;

bool PresenceTable::attach(const QString& connectionName, const QString& registryId, int leaseSeconds) {
    detach();
    const std::optional<StoreEngine> engine = StoreEngine::of(connectionName);
    if (!engine || engine->kind() != StoreEngine::Kind::Postgres)
        return false;
    m_registryId = registryId;
    m_leaseSeconds = leaseSeconds;
    auto prepare = [&engine](std::unique_ptr<StoreStatement>& slot, const char* sql) {
        return engine->prepareInto(slot, QByteArray(), sql);
    };
    // A claim inserts the row, or takes over one that is this registry's own
    // (a release that could not be written) or whose registry's lease has
    // lapsed; a row held under a running lease is left alone and nothing
    // changes. The unique index makes two registries claiming at once wait
    // for each other: one wins.
    m_attached =
        prepare(m_claim,
                "INSERT INTO \"Presence\" (\"User\", \"Registry\") VALUES (?, ?) "
                "ON CONFLICT (\"FoldCase\"(\"User\")) DO UPDATE SET \"User\" = EXCLUDED.\"User\", "
                "\"Registry\" = EXCLUDED.\"Registry\", \"Since\" = now() "
                "WHERE \"Presence\".\"Registry\" = EXCLUDED.\"Registry\" OR NOT EXISTS (SELECT 1 FROM \"Registries\" r "
                "WHERE r.\"Registry\" = \"Presence\".\"Registry\" AND r.\"LeaseUntil\" > now())") &&
        prepare(m_release, "DELETE FROM \"Presence\" WHERE \"FoldCase\"(\"User\") = \"FoldCase\"(?) "
                           "AND \"Registry\" = ?") &&
        prepare(m_releaseAll, "DELETE FROM \"Presence\" WHERE \"Registry\" = ?") &&
        prepare(m_renew, "INSERT INTO \"Registries\" (\"Registry\", \"LeaseUntil\") "
                         "VALUES (?, now() + make_interval(secs => ?)) "
                         "ON CONFLICT (\"Registry\") DO UPDATE SET \"LeaseUntil\" = EXCLUDED.\"LeaseUntil\"") &&
        prepare(m_leave, "DELETE FROM \"Registries\" WHERE \"Registry\" = ?") &&
        prepare(m_sweep, "DELETE FROM \"Registries\" WHERE \"LeaseUntil\" < now() - interval '1 hour'");
    if (!m_attached)
        detach();
    return m_attached;
}

void PresenceTable::detach() {
    for (std::unique_ptr<StoreStatement>* s : {&m_claim, &m_release, &m_releaseAll, &m_renew, &m_leave, &m_sweep})
        s->reset();
    m_attached = false;
}

PresenceTable::Claim PresenceTable::claim(const QString& user) {
    if (!m_attached)
        return Claim::Granted;
    m_claim->bindText(1, user);
    m_claim->bindText(2, m_registryId);
    const StoreStatement::Outcome outcome = runChange(m_gate, *m_claim);
    if (!outcome.ran())
        return Claim::Unavailable;
    return outcome.changes > 0 ? Claim::Granted : Claim::HeldElsewhere;
}

void PresenceTable::release(const QString& user) {
    if (!m_attached)
        return;
    m_release->bindText(1, user);
    m_release->bindText(2, m_registryId);
    runChange(m_gate, *m_release);
}

void PresenceTable::releaseAll() {
    if (!m_attached)
        return;
    m_releaseAll->bindText(1, m_registryId);
    runChange(m_gate, *m_releaseAll);
}

bool PresenceTable::renew() {
    if (!m_attached)
        return true;
    m_renew->bindText(1, m_registryId);
    m_renew->bindInteger(2, m_leaseSeconds);
    return runChange(m_gate, *m_renew).ran();
}

void PresenceTable::leave() {
    if (!m_attached)
        return;
    m_leave->bindText(1, m_registryId);
    runChange(m_gate, *m_leave);
}

void PresenceTable::sweep() {
    if (m_attached)
        runChange(m_gate, *m_sweep);
}
