#include "support/registry_process.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

#include <csignal>

RegistryProcess::~RegistryProcess() {
    if (m_process.state() != QProcess::NotRunning)
        kill();
}

bool RegistryProcess::launch(const QString& dataDir) {
    m_errors.clear();
    m_process.setProgram(m_program);
    m_process.setArguments(QStringList{"--headless", "--bus", m_bus, "--port", "0", "--data-dir", dataDir} + m_extra);
    m_process.start();
    return m_process.waitForStarted(5000);
}

quint16 RegistryProcess::start(const QString& dataDir, int timeoutMs) {
    if (!launch(dataDir))
        return 0;
    static const QRegularExpression line(
        "TavRegistry v\\d+\\.\\d+\\.\\d+ has loaded and is listening on port (\\d+) for connections\\.\n");
    QByteArray out;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        out += m_process.readAllStandardOutput();
        const auto m = line.match(QString::fromUtf8(out));
        if (m.hasMatch())
            return quint16(m.captured(1).toUInt());
        if (m_process.state() == QProcess::NotRunning)
            break;
        m_process.waitForReadyRead(100);
    }
    errors();
    return 0;
}

void RegistryProcess::kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process.processId()), SIGKILL);
    m_process.waitForFinished(10000);
}

bool RegistryProcess::terminate(int timeoutMs) {
    if (m_process.state() == QProcess::NotRunning)
        return false;
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}
