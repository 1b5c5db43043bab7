#include "app/run_registry.h"

#include "admin/control_bus_object.h"
#include "admin/http_endpoint.h"
#include "app/command_line.h"
#include "app/configuration.h"
#include "app/data_folder.h"
#include "app/diagnostics.h"
#include "app/service_pulse.h"
#include "app/signal_bridge.h"
#include "database/database_copy.h"
#include "host/limit_settings.h"
#include "host/registry.h"
#include "host/registry_config.h"
#include "platform/build_version.h"
#include "platform/epoll_socket_layer.h"
#include "platform/folder_lock.h"
#include "platform/listen_address.h"
#include "platform/qt_socket_layer.h"
#include "platform/service_manager.h"
#include "platform/tick_clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <memory>

namespace {

// A start that fails says why on standard error and, under systemd, in the
// unit's status line (and never says it is ready).
int startFailed(const QString& reason) {
    printDiagnostic(Severity::Error, QStringLiteral("start-up failed: ") + reason);
    SystemdServiceManager(SystemdServiceConfig{}).notifyStatus(QStringLiteral("Start-up failed: ") + reason);
    return 1;
}

bool createDataDir(const QString& path, QString* error) {
    if (QDir(path).exists() || QDir().mkpath(path))
        return true;
    *error = QStringLiteral("cannot create the data folder %1").arg(path);
    return false;
}

// The application folder must take new files.
bool probeDataDir(const QString& path, QString* error) {
    QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".tavregistry-XXXXXX")));
    if (!probe.open()) {
        *error = QStringLiteral("cannot write in the data folder %1: %2").arg(path, probe.errorString());
        return false;
    }
    return true;
}

// Publishes the automation interface on the chosen bus; a failure is reported
// and the registry runs on without it.
void publishAutomation(CommandLine::Bus bus, ControlBusObject& object) {
    if (bus == CommandLine::Bus::None)
        return;
    QDBusConnection connection = bus == CommandLine::Bus::System ? QDBusConnection::systemBus()
                                                                 : QDBusConnection::sessionBus();
    if (bus == CommandLine::Bus::Default && !connection.isConnected())
        return; // no session bus here: nothing to publish on, and nothing asked for
    QString error;
    if (!object.publish(connection, &error))
        printDiagnostic(Severity::Warning, QStringLiteral("automation interface not available: ") + error);
}

// The HTTP listener of [http] listen, bound before the registry starts so that
// a port already taken stops start-up before anything else happens.
std::unique_ptr<HttpEndpoint> startHttp(const Configuration& configuration, Registry& registry, QString* error) {
    const QString listen = configuration.values().value(QStringLiteral("http"), QStringLiteral("listen")).toString();
    if (listen.isEmpty())
        return nullptr;
    const std::optional<ListenAddress> where = ListenAddress::parse(listen, error);
    if (!where)
        return nullptr;
    auto endpoint = std::make_unique<HttpEndpoint>(registry, QDateTime::currentSecsSinceEpoch());
    if (!endpoint->listen(where->address, where->port, error))
        return nullptr;
    std::fprintf(stderr, "HTTP endpoint listening on %s\n",
                 ListenAddress::url(endpoint->address(), endpoint->port()).toUtf8().constData());
    std::fflush(stderr);
    return endpoint;
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The first line of the file, without its line end.
bool readPasswordFile(const QString& path, QString* password, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read the database password file %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray line = file.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
    return true;
}

void reloadConfiguration(Configuration& configuration, Registry& registry) {
    QStringList notices;
    QString error;
    if (!configuration.reload(&notices, &error)) {
        printDiagnostic(Severity::Error, QStringLiteral("configuration not reloaded, the settings in force stay: ") + error);
        return;
    }
    for (const QString& notice : notices)
        printDiagnostic(Severity::Warning, notice);
    registry.setLimits(LimitSettings::fromConfig(configuration.values()));
    const QString path = configuration.path();
    printDiagnostic(Severity::Info, path.isEmpty() ? QStringLiteral("configuration reloaded (no file: defaults)")
                                                   : QStringLiteral("configuration reloaded from ") + path);
}

} // namespace

int runRegistry(int argc, char** argv, const QString& program, DesktopParts* desktop) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine cl = CommandLine::parse(arguments);
    switch (cl.outcome) {
    case CommandLine::Outcome::ShowHelp:
        std::fputs(CommandLine::helpText(program).toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Outcome::ShowVersion:
        std::fputs(CommandLine::versionText(program).toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Outcome::Error:
        printDiagnostic(Severity::Error, cl.errorText);
        return 2;
    case CommandLine::Outcome::Run:
        break;
    }

    const QString dataDir =
        QDir(cl.dataDir.isEmpty() ? defaultDataFolder(executableFolder(argv[0])) : cl.dataDir).absolutePath();
    QString error;
    // One registry per data folder from the first instant: the lock comes
    // before any file of the folder is read, created or renamed.
    FolderLock lock;
    if (!createDataDir(dataDir, &error) || !lock.acquire(dataDir, &error) || !probeDataDir(dataDir, &error))
        return startFailed(error);

    Configuration configuration(registryConfigSchema(), cl.configFile,
                                QDir(dataDir).filePath(QString::fromLatin1(kRegistryConfigName)), cl.overrides);
    if (!configuration.load(&error))
        return startFailed(error);

    // Qt's own UNIX event dispatcher costs noticeably less per message than
    // the glib one; the user's explicit choice wins.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");

    const bool headless = !desktop || cl.headless || !hasDisplay();
    std::unique_ptr<QCoreApplication> app =
        headless ? std::make_unique<QCoreApplication>(argc, argv) : desktop->makeApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavregistry"));
    QCoreApplication::setApplicationVersion(QLatin1String(BuildVersion::kText));

    RegistryOptions options;
    options.dataDir = dataDir;
    const QString passwordFileSetting =
        configuration.values().value(QStringLiteral("database"), QStringLiteral("password_file")).toString();
    if (!cl.copyToDatabase.isEmpty()) {
        QString password;
        if (!passwordFileSetting.isEmpty() && !readPasswordFile(passwordFileSetting, &password, &error))
            return startFailed(error);
        QString summary;
        switch (DatabaseCopy::copy(dataDir, cl.copyToDatabase, password, &summary, &error)) {
        case DatabaseCopy::Result::Copied:
            std::fprintf(stdout, "%s\n", summary.toUtf8().constData());
            return 0;
        case DatabaseCopy::Result::NotEmpty:
            printDiagnostic(Severity::Error, error);
            return 3;
        case DatabaseCopy::Result::Failed:
            printDiagnostic(Severity::Error, QStringLiteral("copy failed: ") + error);
            return 1;
        }
    }
    options.databaseUrl = configuration.values().value(QStringLiteral("database"), QStringLiteral("url")).toString();
    if (!options.databaseUrl.isEmpty() && !passwordFileSetting.isEmpty() &&
        !readPasswordFile(passwordFileSetting, &options.databasePassword, &error))
        return startFailed(error);
    options.databaseLeaseSeconds =
        configuration.values().value(QStringLiteral("database"), QStringLiteral("lease")).toInt();
    options.listenAddress = cl.listenAddress;
    options.port = cl.port;
    options.echoEventsToStdout = true;
    // The daemon under systemd reports readiness even without Service=True in
    // server.ini: its packaged unit is Type=notify. The program with the window
    // keeps the Service setting's rule.
    options.startedByServiceManager = !desktop && qEnvironmentVariableIsSet("NOTIFY_SOCKET");

    // The epoll layer is the default; TAV_SOCKET_LAYER=qt selects the one on
    // QTcpServer/QTcpSocket (kept for comparison in the benchmarks).
    std::unique_ptr<SocketLayer> socketLayer;
    if (qEnvironmentVariable("TAV_SOCKET_LAYER") == QLatin1String("qt"))
        socketLayer = std::make_unique<QtSocketLayer>();
    else
        socketLayer = std::make_unique<EpollSocketLayer>();
    SystemTickClock clock;
    Registry registry(*socketLayer, clock, options);
    registry.setLimits(LimitSettings::fromConfig(configuration.values()));
    QObject::connect(&registry, &Registry::notice, [](NoticeSeverity severity, const QString& text) {
        printDiagnostic(severity == NoticeSeverity::Error     ? Severity::Error
                        : severity == NoticeSeverity::Warning ? Severity::Warning
                                                              : Severity::Info,
                        text);
    });
    if (!headless)
        desktop->attach(registry);

    SignalBridge signals_;
    QObject::connect(&signals_, &SignalBridge::terminationRequested, &registry, &Registry::shutdown);
    QObject::connect(&signals_, &SignalBridge::reloadRequested, app.get(),
                     [&configuration, &registry] { reloadConfiguration(configuration, registry); });
    QObject::connect(&signals_, &SignalBridge::ignoredSignal, app.get(), [](int signo) {
        printDiagnostic(Severity::Info, QStringLiteral("signal %1 ignored").arg(signo));
    });
    QObject::connect(&registry, &Registry::shutdownFinished, app.get(), [] { QCoreApplication::exit(0); },
                     Qt::QueuedConnection);

    error.clear();
    const std::unique_ptr<HttpEndpoint> http = startHttp(configuration, registry, &error);
    if (!http && !error.isEmpty()) {
        if (!headless)
            desktop->detach(registry);
        return startFailed(error);
    }

    if (!registry.start(&error)) {
        if (!headless)
            desktop->detach(registry);
        return startFailed(error);
    }
    ServicePulse pulse(registry, registry.serviceManager());
    pulse.start();
    ControlBusObject automation(registry);
    publishAutomation(cl.bus, automation);

    const int rc = app->exec();
    automation.unpublish();
    if (!headless)
        desktop->detach(registry);
    return rc;
}
