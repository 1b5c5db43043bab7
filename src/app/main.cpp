#include "admin/control_bus_object.h"
#include "app/command_line.h"
#include "app/signal_bridge.h"
#include "host/registry.h"
#include "platform/build_version.h"
#include "platform/epoll_socket_layer.h"
#include "platform/qt_socket_layer.h"
#include "platform/tick_clock.h"
#include "ui/main_window.h"
#include "ui/prompter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

void printErr(const QString& text) {
    const QByteArray bytes = (QStringLiteral("tavregistry: ") + text + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

// The core's notices go to standard error: information as our own line,
// warnings through Qt's message handler.
void reportNotice(NoticeSeverity severity, const QString& text) {
    if (severity == NoticeSeverity::Warning)
        qWarning("%s", qPrintable(text));
    else
        printErr(text);
}

QString executableFolder(const char* argv0) {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return QFileInfo(QString::fromLocal8Bit(buffer, int(n))).absolutePath();
    return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

// The application folder must exist and take new files.
bool prepareDataDir(const QString& path, QString* error) {
    QDir dir(path);
    if (!dir.exists() && !QDir().mkpath(path)) {
        *error = QStringLiteral("cannot create the data folder %1").arg(path);
        return false;
    }
    QTemporaryFile probe(dir.filePath(QStringLiteral(".tavregistry-XXXXXX")));
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
        printErr(QStringLiteral("automation interface not available: ") + error);
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine cl = CommandLine::parse(arguments);
    switch (cl.outcome) {
    case CommandLine::Outcome::ShowHelp:
        std::fputs(CommandLine::helpText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Outcome::ShowVersion:
        std::fputs(CommandLine::versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Outcome::Error:
        printErr(cl.errorText);
        return 2;
    case CommandLine::Outcome::Run:
        break;
    }

    const QString dataDir = QDir(cl.dataDir.isEmpty() ? executableFolder(argv[0]) : cl.dataDir).absolutePath();
    QString error;
    if (!prepareDataDir(dataDir, &error)) {
        printErr(error);
        return 1;
    }

    // Qt's own UNIX event dispatcher costs noticeably less per message than
    // the glib one; the user's explicit choice wins.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");

    const bool headless = cl.headless || !hasDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        auto* gui = new QApplication(argc, argv);
        gui->setQuitOnLastWindowClosed(false);
        app.reset(gui);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tavregistry"));
    QCoreApplication::setApplicationVersion(QLatin1String(BuildVersion::kText));

    RegistryOptions options;
    options.dataDir = dataDir;
    options.listenAddress = cl.listenAddress;
    options.port = cl.port;
    options.echoEventsToStdout = true;

    // The epoll layer is the default; TAV_SOCKET_LAYER=qt selects the one on
    // QTcpServer/QTcpSocket (kept for comparison in the benchmarks).
    std::unique_ptr<SocketLayer> socketLayer;
    if (qEnvironmentVariable("TAV_SOCKET_LAYER") == QLatin1String("qt"))
        socketLayer = std::make_unique<QtSocketLayer>();
    else
        socketLayer = std::make_unique<EpollSocketLayer>();
    SocketLayer& sockets = *socketLayer;
    SystemTickClock clock;
    Registry registry(sockets, clock, options);
    QObject::connect(&registry, &Registry::notice, &reportNotice);

    WidgetPrompter prompter;
    std::unique_ptr<MainWindow> window;
    if (!headless)
        window = std::make_unique<MainWindow>(registry, prompter);

    SignalBridge signals_;
    QObject::connect(&signals_, &SignalBridge::terminationRequested, &registry, &Registry::shutdown);
    QObject::connect(&registry, &Registry::shutdownFinished, app.get(), [] { QCoreApplication::exit(0); },
                     Qt::QueuedConnection);

    if (!registry.start(&error)) {
        printErr(QStringLiteral("start-up failed: ") + error);
        return 1;
    }
    ControlBusObject automation(registry);
    publishAutomation(cl.bus, automation);

    const int rc = app->exec();
    automation.unpublish();
    return rc;
}
