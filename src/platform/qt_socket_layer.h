#pragma once

#include "platform/socket_layer.h"

#include <QTcpServer>
#include <array>
#include <vector>

class QTcpSocket;

// The socket layer over QTcpServer and QTcpSocket.
class QtSocketLayer final : public SocketLayer {
    Q_OBJECT
public:
    static constexpr int kMaxIndex = 256;
    // Many servers reconnect at once after a restart; a short backlog makes the
    // kernel drop them and they retry only seconds later.
    static constexpr int kListenBacklog = 512;

    explicit QtSocketLayer(QObject* parent = nullptr);
    ~QtSocketLayer() override;

    bool listen(const QHostAddress& address, quint16 port, QString* errorText) override;
    quint16 localPort() const override;
    void stopListening() override;
    bool hasPendingConnection() const override;
    bool acceptInto(int index) override;
    void refuse(const QByteArray& notice) override;
    QByteArray pendingAddress() override;
    QByteArray remoteAddress(int index) const override;
    bool isConnected(int index) const override;
    void send(int index, const QByteArray& data) override;
    qint64 unsentBytes(int index) const override;
    qint64 kernelUnsentBytes(int index) const override;
    void setReadPaused(int index, bool paused) override;
    QByteArray takeData(int index) override;
    void close(int index) override;
    int openCount() const override;

private:
    void attach(int index, QTcpSocket* socket);
    QTcpSocket* at(int index) const;
    // The next waiting caller, taken from the server's queue (or the one
    // pendingAddress() already took out to read its address).
    QTcpSocket* takeNext();

    void noteWritten(int index, QTcpSocket* socket);
    void deliverCompletions();

    QTcpServer m_server;
    QTcpSocket* m_next = nullptr; // taken out by pendingAddress(), not yet placed
    // Completions are delivered from the event loop, never from inside send(),
    // so that a handler that sends is not re-entered by the close it may cause.
    std::vector<int> m_completed;
    bool m_deliveryPosted = false;
    std::array<QTcpSocket*, kMaxIndex + 1> m_sockets{};
    std::array<bool, kMaxIndex + 1> m_readPaused{};
    int m_open = 0;
};
