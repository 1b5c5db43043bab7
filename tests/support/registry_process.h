#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The tavregistry executable (TAVREGISTRY_BIN) run headless on a free port.
class RegistryProcess {
public:
    ~RegistryProcess();
    static QString binary() { return qEnvironmentVariable("TAVREGISTRY_BIN"); }
    // The daemon without a window (TAVREGISTRYD_BIN), run the same way.
    static QString daemonBinary() { return qEnvironmentVariable("TAVREGISTRYD_BIN"); }
    void setProgram(const QString& program) { m_program = program; }

    // Starts it and waits for the start-up line; returns the port it names,
    // or 0 (then `output()` and `errors()` say why).
    quint16 start(const QString& dataDir, int timeoutMs = 15000);
    // The bus it publishes the automation interface on: none (the default), session or system.
    void setBus(const QString& bus) { m_bus = bus; }
    // More arguments after the usual ones (another --port wins over "--port 0").
    void setExtraArguments(const QStringList& extra) { m_extra = extra; }
    // Starts it without waiting for anything.
    bool launch(const QString& dataDir);
    qint64 pid() const { return m_process.processId(); }
    QProcess& process() { return m_process; }
    // SIGKILL, then waits until it is gone.
    void kill();
    // SIGTERM; true when it then exits 0 within the time.
    bool terminate(int timeoutMs = 10000);
    QByteArray errors() { return m_errors += m_process.readAllStandardError(); }

private:
    QProcess m_process;
    QByteArray m_errors;
    QString m_bus = QStringLiteral("none");
    QStringList m_extra;
    QString m_program = binary();
};
