#pragma once

#include <QObject>

class QSocketNotifier;

// Turns signals into signals on the event loop. The handler only writes a
// byte to a pipe; the work itself runs in the loop. Every signal a service
// manager or a terminal commonly sends is caught, so that none ends the
// process without the shutdown sequence:
//   SIGTERM, SIGINT, SIGQUIT  terminationRequested (clean shutdown)
//   SIGHUP                    reloadRequested (read the configuration again)
//   SIGUSR1, SIGUSR2          ignoredSignal (said on standard error, nothing else)
//   SIGPIPE                   ignored (a peer that vanishes mid-write)
class SignalBridge final : public QObject {
    Q_OBJECT
public:
    explicit SignalBridge(QObject* parent = nullptr);
    ~SignalBridge() override;
    bool isValid() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);
    void reloadRequested();
    void ignoredSignal(int signalNumber);

private:
    void drain();
    QSocketNotifier* m_notifier = nullptr;
};
