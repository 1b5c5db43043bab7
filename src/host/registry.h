#pragma once

#include "database/registry_database.h"
#include "host/access_rate.h"
#include "host/address_limits.h"
#include "host/event_log.h"
#include "host/settings.h"
#include "host/update_check.h"
#include "host/write_failure_report.h"
#include "platform/notice.h"
#include "protocol/dispatcher.h"
#include "protocol/list_pages.h"
#include "protocol/online_servers.h"
#include "protocol/session_context.h"
#include "protocol/slot_table.h"

#include <QDate>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include <memory>

class EventEcho;
class FrontEnd;
class ProcessStarter;
class ServiceManager;
class SocketLayer;
class TickClock;

struct RegistryOptions {
    QString dataDir;                                   // the application folder
    QHostAddress listenAddress = QHostAddress::AnyIPv4;
    quint16 port = 5679;                               // 0 takes a free port
    bool echoEventsToStdout = false;                   // print every event line
    // Talk to the service manager whatever server.ini's Service says: the
    // daemon started by systemd (a Type=notify unit waits for readiness).
    bool startedByServiceManager = false;
    QString databaseUrl;      // a shared PostgreSQL database; empty: qbrx.dat in dataDir
    QString databasePassword; // for databaseUrl when not found by libpq's own means
    // How long this registry's hold on its online accounts outlives it when
    // it dies without a word ([database] lease); renewed every third of it.
    int databaseLeaseSeconds = 30;
};

// The one object that owns a running registry: the slot table, the event log,
// the list of online servers, the timers and the message dispatcher. Several
// registries can live side by side in one process (the tests do). Session
// handlers see it only as their SessionContext.
//
// Its member functions are spread over files named by what they do:
//   host/registry.cpp          construction, start-up and shutdown
//   host/accept_path.cpp       taking callers into slots
//   host/close_client.cpp      CloseClient, socket errors, send completion
//   host/slot_supervision.cpp  the 10 ms supervision of idle connections
//   host/receive_path.cpp      cutting messages out of arriving bytes
//   host/send_path.cpp         SendRaw, SendFramed, SendToOperators
//   host/update_check.cpp      CheckForUpdate
class Registry : public QObject, public SessionContext {
    Q_OBJECT
public:
    static constexpr int kClientTimerMs = 10;
    static constexpr int kGeneralTimerMs = 500;
    // A peer that never reads cannot make us hold more than this for it.
    // Counted over our queue and the kernel's.
    static constexpr qint64 kMaxUnsentOutput = 1 << 20;
    // A connection with more than this unsent is not read until it is down
    // to half of it: a peer that does not take its replies cannot make us
    // work for it meanwhile.
    static constexpr qint64 kReadPauseOutput = 64 * 1024;
    // Messages handled per connection per pass of the event loop; the rest
    // wait in the slot's buffer (reading paused) for the next pass.
    static constexpr int kMessagesPerPass = 32;

    enum class State { Created, Running, ShuttingDown, Ended };

    Registry(SocketLayer& sockets, TickClock& clock, RegistryOptions options, QObject* parent = nullptr);
    ~Registry() override;

    void setFrontEnd(FrontEnd* frontEnd);
    // A front end that goes before the registry takes itself off; another
    // one attached meanwhile stays.
    void detachFrontEnd(const FrontEnd* frontEnd);
    // The service manager (default: systemd) and the starter of the updater
    // (default: a detached process); tests put their own in. Null restores the default.
    void setServiceManager(ServiceManager* manager);
    ServiceManager& serviceManager() { return *m_serviceManager; }
    void setProcessStarter(ProcessStarter* starter);

    // Start-up. On failure returns false with a message naming the failure;
    // the registry then does not run.
    bool start(QString* errorText);
    // ShutdownRegistry: closes every connection and the stores, then emits
    // shutdownFinished(). Every step is attempted; a second call does nothing.
    void shutdown();
    State state() const { return m_state; }

    // --- connection slots ---
    SlotTable& clients() override { return m_clients; }
    const SlotTable& clients() const override { return m_clients; }
    int connectionCount() const { return m_clients.connectionCount; }
    int findFreeSlot() const { return m_clients.findFreeSlot(); }
    void closeClient(int index, CloseReason reason) override;
    using SessionContext::closeClient;

    // --- send path ---
    void sendRaw(int index, const QByteArray& data) override;
    void sendFramed(int index, QByteArrayView message) override;
    void sendToOperators(QByteArrayView message);

    // --- receive path ---
    void processData(int index, QByteArrayView data);

    // --- supervision and the general timer ---
    // The 10 ms supervision of the slots: it runs on the ticks at which
    // something can be due, never while nothing can.
    void superviseSlots();
    // Whether a run is planned, and the tick it is planned for.
    bool supervisionPlanned() const { return m_supervisionPlanned; }
    quint32 nextSupervisionTick() const { return m_supervisionDue; }
    void generalTimerTick();
    // CheckForUpdate: starts the updater and shuts down when an update waits.
    void checkForUpdate();

    // --- settings ---
    Settings& settings() { return m_settings; }

    // --- event view ---
    void logEvent(const QString& text) override;
    EventLog& eventLog() { return m_eventLog; }

    OnlineServerList& onlineServers() override { return m_onlineServers; }
    ListPages& listPages() override { return m_listPages; }

    // qbrx.dat: the accounts and the bans, open from start-up to shutdown.
    RegistryDatabase& database() { return m_database; }
    const RegistryDatabase& database() const { return m_database; }
    // The database file was moved, replaced, cut short or removed while the
    // registry ran: nothing is stored any more (/healthz says so).
    bool databaseLost() const { return m_database.isLost(); }
    AccountSet& accounts() override { return m_database.accounts(); }
    PresenceTable& presence() override { return m_database.presence(); }
    bool storeAvailable() const override { return m_database.isReachable(); }
    // Whether the database can still be relied on: open, still the file at
    // its path, or the server answering (the health check reads this).
    bool databaseHealthy() const { return m_database.isOpen() && !databaseLost() && m_database.isReachable(); }

    // Today's date, for the expiry of bans; replaceable so that tests can move the calendar.
    QDate today() const;
    void setTodayProvider(std::function<QDate()> today) { m_today = std::move(today); }

    // "Accesses/Hour = n", for lblStatus of the main window.
    QString accessRateText() const { return m_accessRate.text(); }
    const AccessRate& accessRate() const { return m_accessRate; }

    // The new-accounts switch: may game servers create accounts at login?
    bool newAccountsAllowed() const override { return m_newAccountsAllowed; }
    void setNewAccountsAllowed(bool allowed) override;

    RegistryCounters& counters() override { return m_counters; }
    const RegistryCounters& counters() const { return m_counters; }

    // The per-address limits ([limits] of tavregistry.conf). New values apply
    // at once; slots already held stay even under a lower cap.
    void setLimits(const LimitSettings& settings) { m_limits.apply(settings); }
    CallerLimits& callerLimits() override { return m_limits; }
    AddressLimits& addressLimits() { return m_limits; }
    const AddressLimits& addressLimits() const { return m_limits; }
    int slotsHeldBy(QByteArrayView ip) const { return m_clients.slotsHeldBy(ip); }

    QString captionText() const;
    QString trayTipText() const;
    QString startupLine() const;
    quint16 listeningPort() const;
    const RegistryOptions& options() const { return m_options; }
    const TickClock& clock() const { return m_clock; }
    SocketLayer& sockets() { return m_sockets; }
    Dispatcher& dispatcher() { return m_dispatcher; }

signals:
    void newAccountsAllowedChanged(bool allowed);
    void connectionCountChanged(int count);
    void accessRateTextChanged(const QString& text);
    void shutdownFinished();
    // Something the owner should know that is no event of the registry (a
    // recovered database file, a settings file that cannot be written). The
    // registry writes these nowhere itself; the application decides.
    void notice(NoticeSeverity severity, const QString& text);

private:
    void onConnectionRequest();
    // Takes or refuses the next caller. `tableLive`: every regular slot was
    // seen held by a live connection earlier in this pass; returns whether
    // that still holds after this caller.
    bool acceptOne(bool tableLive);
    // The full notice to the waiting caller, which is then dropped; the count does not change.
    void refuseAsFull();
    void onDataArrival(int index);
    qsizetype dispatchMessages(int index, QByteArrayView bytes);
    void finishArrival(int index, QByteArrayView rest);
    void handleBacklog();
    void releaseHeldOutput();
    void planSupervision();
    void superviseSoon();
    void superviseNewSlot();
    void wakeSupervisionAt(quint32 wake, quint32 now);
    void setReadPaused(int index, bool paused);
    void onSendComplete(int index);
    void onSocketError(int index);
    void refreshCountTexts();
    // After the shared database came back: the accounts held here are given
    // back (closes that could not be written while it was away), those online
    // claimed again; one taken meanwhile at another registry is closed here.
    void reclaimPresence();
    // CloseClient without counting a close: for callers that were never
    // admitted (a banned caller, the overflow slot's full notice).
    void releaseSlot(int index);

    SocketLayer& m_sockets;
    TickClock& m_clock;
    RegistryOptions m_options;
    FrontEnd* m_frontEnd;
    State m_state = State::Created;

    SlotTable m_clients;
    ListPages m_listPages{m_clients};
    EventLog m_eventLog;
    OnlineServerList m_onlineServers;
    Dispatcher m_dispatcher;
    QTimer m_clientTimer;       // single shot, started for the next run of the supervision
    quint32 m_supervisionGrid = 0; // a tick of the 10 ms grid: the last run, or the accept that began it
    quint32 m_supervisionDue = 0;
    bool m_supervisionPlanned = false;
    QTimer m_generalTimer;
    bool m_newAccountsAllowed = false;
    bool m_backlogPosted = false;
    RegistryDatabase m_database;
    std::unique_ptr<EventEcho> m_echo; // event lines on standard output, when asked for

    Settings m_settings;
    UpdateCheck m_updateCheck;
    std::unique_ptr<ServiceManager> m_ownServiceManager;
    ServiceManager* m_serviceManager;
    std::unique_ptr<ProcessStarter> m_ownProcessStarter;
    ProcessStarter* m_processStarter;
    bool m_attachedToServiceManager = false;
    AccessRate m_accessRate;
    AddressLimits m_limits;
    RegistryCounters m_counters;
    WriteFailureReport m_writeFailures;
    std::function<QDate()> m_today;
    // The local date, kept until the wall clock leaves its day: every accept
    // asks for it, and working it out reads the time-zone file each time.
    mutable QDate m_cachedDate;
    mutable qint64 m_cachedDayStartMs = 0;
    mutable qint64 m_cachedDayEndMs = 0;
};
