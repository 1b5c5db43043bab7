#pragma once

#include "protocol/caller_limits.h"
#include "protocol/registry_counters.h"
#include "protocol/slot_table.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class AccountSet;
class ListPages;
class OnlineServerList;
class PresenceTable;

// What a session handler may do to the registry that runs it: read and write
// the slots, send, close, log, reach the account store, the list of online
// servers and the new-accounts switch. The registry implements it; handlers
// and the shared server messages see nothing else of it.
class SessionContext {
public:
    virtual SlotTable& clients() = 0;
    virtual const SlotTable& clients() const = 0;
    ClientSlot& slot(int index) { return clients()[index]; }
    const ClientSlot& slot(int index) const { return clients()[index]; }
    int findServerByName(QByteArrayView name) const { return clients().findServerByName(name); }

    // SendRaw: already framed bytes to one slot.
    virtual void sendRaw(int index, const QByteArray& data) = 0;
    // SendFramed: the message (type byte and payload) with its length prefix.
    virtual void sendFramed(int index, QByteArrayView message) = 0;
    // CloseClient, counted under `reason`; without one the close is the
    // registry's answer to something the peer sent.
    virtual void closeClient(int index, CloseReason reason) = 0;
    void closeClient(int index) { closeClient(index, CloseReason::Protocol); }
    // LogEvent: one line in the event view.
    virtual void logEvent(const QString& text) = 0;

    virtual AccountSet& accounts() = 0;
    // The accounts online at every registry that shares the database (with
    // qbrx.dat nobody else: every claim is granted).
    virtual PresenceTable& presence() = 0;
    // Does the account store answer? While it does not, logins and
    // registrations are closed without reply.
    virtual bool storeAvailable() const = 0;
    virtual OnlineServerList& onlineServers() = 0;
    // The list replies, kept until the list changes.
    virtual ListPages& listPages() = 0;
    virtual bool newAccountsAllowed() const = 0;
    virtual void setNewAccountsAllowed(bool allowed) = 0;

    // The counts behind the metrics; handlers add what they decide.
    virtual RegistryCounters& counters() = 0;
    // The per-address limits: lockouts, registrations, list queries.
    virtual CallerLimits& callerLimits() = 0;

protected:
    ~SessionContext() = default;
};
