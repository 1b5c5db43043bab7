#pragma once

#include "host/registry.h"
#include "doubles/memory_socket_layer.h"
#include "doubles/manual_tick_clock.h"

#include <QTemporaryDir>
#include <memory>

class FrontEnd;

// A running registry with believable contents for pictures of the windows:
// accounts and bans in its database, game servers and an operator logged in
// over the in-memory socket layer, and the event lines that produced. The
// calendar is fixed so that the pictures do not change from day to day.
class SampleRegistry {
public:
    static QDate sampleToday() { return QDate(2024, 3, 14); }

    SampleRegistry();
    ~SampleRegistry();

    // Starts the registry with `frontEnd` as its windows, then fills it.
    // False with a reason when any step fails.
    bool start(FrontEnd* frontEnd, QString* error);

    Registry& registry() { return *m_registry; }
    // The bookmark of the account shown in the account dialog's edit mode.
    qint64 editedAccount() const { return m_editedAccount; }
    // The address of the ban shown in the ban dialog's edit mode.
    static QString editedBanAddress() { return QStringLiteral("198.51.100.23"); }

private:
    bool addAccounts(QString* error);
    bool addBans(QString* error);
    bool logInServers(QString* error);

    QTemporaryDir m_dataDir;
    MemorySocketLayer m_net;
    ManualTickClock m_clock{5000};
    std::unique_ptr<Registry> m_registry;
    qint64 m_editedAccount = 0;
};
