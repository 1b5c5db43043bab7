#include "host/registry.h"

#include "host/event_echo.h"
#include "host/front_end.h"
#include "platform/build_version.h"
#include "platform/code_page.h"
#include "platform/process_starter.h"
#include "platform/service_manager.h"
#include "platform/socket_layer.h"
#include "platform/tick_clock.h"

#include <QDateTime>

#include <unistd.h>

namespace {
FrontEnd& headlessFrontEnd() {
    static FrontEnd none;
    return none;
}

SystemdServiceConfig systemdConfigFor(const QString& dataDir) {
    SystemdServiceConfig config;
    config.dataDir = dataDir;
    return config;
}
} // namespace

Registry::Registry(SocketLayer& sockets, TickClock& clock, RegistryOptions options, QObject* parent)
    : QObject(parent), m_sockets(sockets), m_clock(clock), m_options(std::move(options)),
      m_frontEnd(&headlessFrontEnd()), m_settings(m_options.dataDir), m_updateCheck(m_options.dataDir),
      m_ownServiceManager(std::make_unique<SystemdServiceManager>(systemdConfigFor(m_options.dataDir))),
      m_serviceManager(m_ownServiceManager.get()),
      m_ownProcessStarter(std::make_unique<DetachedProcessStarter>()), m_processStarter(m_ownProcessStarter.get()),
      m_limits(m_clock, [this](NoticeSeverity severity, const QString& text) { emit notice(severity, text); }) {
    installSessionHandlers(m_dispatcher);
    m_settings.setNoticeSink([this](NoticeSeverity severity, const QString& text) { emit notice(severity, text); });
    m_database.setLostSink([this](const QString& why) {
        emit notice(NoticeSeverity::Error,
                    why + QStringLiteral("; the database is lost: registrations and changes are refused and nothing "
                                         "is written to it until the registry is restarted"));
    });
    m_database.setWriteFailureSink([this](const QString& why) {
        ++m_counters.storeWriteFailures;
        const QString line = m_writeFailures.failed(m_clock.now(), why);
        if (!line.isEmpty())
            emit notice(NoticeSeverity::Error, line);
    });
    m_database.setConnectionSink([this](NoticeSeverity severity, const QString& text) { emit notice(severity, text); });
    m_database.setLeaseSeconds(m_options.databaseLeaseSeconds);
    if (m_options.echoEventsToStdout)
        m_echo = std::make_unique<EventEcho>(STDOUT_FILENO);

    connect(&m_sockets, &SocketLayer::connectionRequest, this, &Registry::onConnectionRequest);
    connect(&m_sockets, &SocketLayer::dataArrival, this, &Registry::onDataArrival);
    connect(&m_sockets, &SocketLayer::sendComplete, this, &Registry::onSendComplete);
    connect(&m_sockets, &SocketLayer::error, this, &Registry::onSocketError);

    m_clientTimer.setSingleShot(true);
    m_clientTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_clientTimer, &QTimer::timeout, this, &Registry::superviseSlots);
    m_generalTimer.setInterval(kGeneralTimerMs);
    connect(&m_generalTimer, &QTimer::timeout, this, &Registry::generalTimerTick);
}

Registry::~Registry() {
    if (m_state == State::Running)
        shutdown();
}

void Registry::setFrontEnd(FrontEnd* frontEnd) { m_frontEnd = frontEnd ? frontEnd : &headlessFrontEnd(); }

void Registry::detachFrontEnd(const FrontEnd* frontEnd) {
    if (m_frontEnd == frontEnd)
        setFrontEnd(nullptr);
}

void Registry::setServiceManager(ServiceManager* manager) {
    m_serviceManager = manager ? manager : m_ownServiceManager.get();
}

void Registry::setProcessStarter(ProcessStarter* starter) {
    m_processStarter = starter ? starter : m_ownProcessStarter.get();
}

bool Registry::start(QString* errorText) {
    if (m_state != State::Created) {
        if (errorText)
            *errorText = QStringLiteral("the registry has already been started");
        return false;
    }

    m_settings.loadSettings();

    // The access-rate ring and the database are filled and opened here, in
    // that order, before any window exists.

    m_accessRate.reset(m_clock.now());

    QString databaseNotice;
    QString databaseError;
    const bool opened = m_options.databaseUrl.isEmpty()
                            ? m_database.open(m_options.dataDir, &databaseError, &databaseNotice)
                            : m_database.openServer(m_options.databaseUrl, m_options.databasePassword, &databaseError);
    if (!opened) {
        if (errorText)
            *errorText = databaseError;
        m_state = State::Ended;
        return false;
    }
    if (!databaseNotice.isEmpty())
        emit notice(NoticeSeverity::Info, databaseNotice);

    // The main window is loaded (not shown) and comes up in the event view;
    // the general timer runs from then on.
    m_frontEnd->loadMainWindow();
    m_generalTimer.start();

    // The switch starts from the setting; from now on only the menu command
    // and operators change it, never the file.
    if (m_settings.autoAllowSetting())
        setNewAccountsAllowed(true);

    // With the service setting on, the registry connects to the service
    // manager here, before the caption is set and before it listens; it says
    // it is ready only once it listens, so that a start that cannot bind its
    // port is never reported as ready.
    m_attachedToServiceManager = m_settings.serviceSetting() || m_options.startedByServiceManager;

    m_frontEnd->setCaption(captionText());

    QString listenError;
    if (!m_sockets.listen(m_options.listenAddress, m_options.port, &listenError)) {
        if (errorText)
            *errorText = QStringLiteral("cannot listen on %1 port %2: %3")
                             .arg(m_options.listenAddress.toString())
                             .arg(m_options.port)
                             .arg(listenError);
        m_generalTimer.stop();
        m_database.close();
        m_frontEnd->unloadWindows();
        m_attachedToServiceManager = false;
        m_state = State::Ended;
        return false;
    }
    m_state = State::Running;
    if (m_attachedToServiceManager)
        m_serviceManager->notifyReady();

    m_frontEnd->showMainWindowAndTray();
    logEvent(startupLine());
    return true;
}

void Registry::shutdown() {
    if (m_state == State::ShuttingDown || m_state == State::Ended)
        return;
    m_state = State::ShuttingDown;
    if (m_attachedToServiceManager)
        m_serviceManager->notifyStopping();

    // Every game server's disconnection is logged and announced to the
    // operators that are still connected (those in higher slots).
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
        if (m_clients[i].InUse)
            closeClient(i, CloseReason::Shutdown);
    releaseSlot(SlotTable::kOverflowSlot);
    m_sockets.stopListening();
    m_clientTimer.stop();
    m_supervisionPlanned = false;
    m_generalTimer.stop();

    m_database.close();

    m_frontEnd->removeTray();
    m_frontEnd->unloadWindows();
    m_state = State::Ended;
    if (m_echo)
        m_echo->flush();
    emit shutdownFinished();
}

void Registry::generalTimerTick() {
    m_database.checkFile();
    if (m_database.tick(m_clock.now()))
        reclaimPresence();
    if (const QString line = m_writeFailures.due(m_clock.now()); !line.isEmpty())
        emit notice(NoticeSeverity::Error, line);
    m_frontEnd->generalTimerTick();
    m_limits.sweep();
    checkForUpdate();
}

void Registry::reclaimPresence() {
    presence().releaseAll();
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i) {
        const ClientSlot& s = m_clients[i];
        if (s.InUse && s.Mode == SessionMode::Server &&
            presence().claim(CodePage::toUnicode(s.ServerId)) == PresenceTable::Claim::HeldElsewhere)
            closeClient(i, CloseReason::Administrator);
    }
}

void Registry::logEvent(const QString& text) {
    m_eventLog.append(text);
    if (m_echo)
        m_echo->append(text);
}

void Registry::setNewAccountsAllowed(bool allowed) {
    if (m_newAccountsAllowed == allowed)
        return;
    m_newAccountsAllowed = allowed;
    emit newAccountsAllowedChanged(allowed);
}

QDate Registry::today() const {
    if (m_today)
        return m_today();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!m_cachedDate.isValid() || now < m_cachedDayStartMs || now >= m_cachedDayEndMs) {
        m_cachedDate = QDate::currentDate();
        m_cachedDayStartMs = m_cachedDate.startOfDay().toMSecsSinceEpoch();
        m_cachedDayEndMs = m_cachedDate.addDays(1).startOfDay().toMSecsSinceEpoch();
    }
    return m_cachedDate;
}

QString Registry::captionText() const {
    return QStringLiteral("The Tarvane Classic Server Registry") + QStringLiteral(" [") +
           QString::number(m_clients.connectionCount) + QStringLiteral("]");
}

QString Registry::trayTipText() const {
    return QStringLiteral("TavRegistry [") + QString::number(m_clients.connectionCount) + QStringLiteral("]");
}

QString Registry::startupLine() const {
    return QStringLiteral("TavRegistry v%1.%2.%3 has loaded and is listening on port %4 for connections.")
        .arg(BuildVersion::kMajor)
        .arg(BuildVersion::kMinor)
        .arg(BuildVersion::kPatch)
        .arg(listeningPort());
}

quint16 Registry::listeningPort() const { return m_sockets.localPort(); }

void Registry::refreshCountTexts() {
    // Every accept and close passes here; without windows nobody reads the texts.
    if (m_frontEnd != &headlessFrontEnd()) {
        m_frontEnd->setCaption(captionText());
        m_frontEnd->setTrayTip(trayTipText());
    }
    emit connectionCountChanged(m_clients.connectionCount);
}
