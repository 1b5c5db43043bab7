#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <sys/types.h>

// What the registry asks of the machine's service manager: install and remove
// itself as an automatically started service, and say that it is ready (and,
// when ending, that it is stopping). Install and uninstall return false with
// a reason when any step fails. Stopping the registry as a service arrives as
// SIGTERM; start, pause and continue have no counterpart on Linux.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    virtual bool install(QString* errorText) = 0;
    virtual bool uninstall(QString* errorText) = 0;
    virtual void notifyReady() = 0;
    virtual void notifyStopping() = 0;
    // A line for "systemctl status" (what the registry does, or why it failed).
    virtual void notifyStatus(const QString& text) { (void)text; }
    // "Still alive", for the service manager's watchdog.
    virtual void notifyWatchdog() {}
    // How often the service manager wants to hear "still alive"; 0: never.
    virtual qint64 watchdogIntervalUsec() const { return 0; }
};

// The ids of the user the service runs as.
struct ServiceAccount {
    uid_t uid = 0;
    gid_t gid = 0;
};

struct SystemdServiceConfig {
    QString unitFolder = QStringLiteral("/etc/systemd/system");
    QString systemctl = QStringLiteral("systemctl");
    QString sysusers = QStringLiteral("systemd-sysusers");
    // Finds a user by name; empty: the system's user database.
    std::function<std::optional<ServiceAccount>(const QString& name)> lookUpAccount;
    QString executable; // empty: this program
    QString dataDir;    // the registry's data folder, passed as --data-dir
    int commandTimeoutMs = 15000; // the dialog waits for each systemctl call
};

// systemd: a unit "tavregistry.service" in the unit folder, enabled with
// systemctl; readiness through sd_notify (a no-op when systemd did not start us).
// The unit runs the registry as the system user "tavregistry" (created with
// systemd-sysusers when missing), which is given the data folder, and
// confines it to what a network service needs.
class SystemdServiceManager final : public ServiceManager {
public:
    static constexpr const char* kUnitName = "tavregistry.service";
    static constexpr const char* kServiceUser = "tavregistry";

    explicit SystemdServiceManager(SystemdServiceConfig config);

    bool install(QString* errorText) override;
    bool uninstall(QString* errorText) override;
    void notifyReady() override;
    void notifyStopping() override;
    void notifyStatus(const QString& text) override;
    void notifyWatchdog() override;
    qint64 watchdogIntervalUsec() const override;

    QString unitPath() const;
    const SystemdServiceConfig& config() const { return m_config; }

    // The unit's text for an executable and a data folder, both absolute.
    // Empty (with a reason) when a path cannot be written into a unit safely.
    static QString unitFileText(const QString& executable, const QString& dataDir, QString* errorText);
    // The folders the service writes: the data folder and, for a registry
    // that lives in a folder of its own, that folder (the update hand-over
    // replaces the program there).
    static QStringList writableFolders(const QString& executable, const QString& dataDir);

private:
    bool systemctl(const QStringList& arguments, QString* errorText) const;
    bool run(const QString& program, const QStringList& arguments, const QByteArray& input,
             QString* errorText) const;
    std::optional<ServiceAccount> serviceAccount(QString* errorText) const;
    QString executable() const;

    SystemdServiceConfig m_config;
};
