#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

// The registry's view of the network: one listening socket and an array of
// connection sockets indexed by slot number (1..256). Each index holds at most
// one socket, created by acceptInto() and destroyed by close().
//
// Events are delivered as signals on the registry's thread:
//  - connectionRequest(): at least one caller waits; the registry takes them one
//    at a time with acceptInto() or refuse() while hasPendingConnection() is true;
//  - dataArrival(index): bytes can be read with takeData(index) (never while
//    reading that index is paused);
//  - sendComplete(index): every byte handed to send() on that index has been
//    written to the kernel;
//  - error(index): the connection failed or the peer went away.
class SocketLayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SocketLayer() override = default;

    virtual bool listen(const QHostAddress& address, quint16 port, QString* errorText) = 0;
    virtual quint16 localPort() const = 0;
    virtual void stopListening() = 0;

    virtual bool hasPendingConnection() const = 0;
    // Takes the next waiting caller into `index`; false when none was waiting.
    virtual bool acceptInto(int index) = 0;
    // Takes the next waiting caller outside the slot table, sends `notice` and
    // closes it once the notice has left; the registry forgets it at once.
    virtual void refuse(const QByteArray& notice) = 0;
    // The address of the caller acceptInto() or refuse() would take next, in
    // the form remoteAddress() gives; empty when none waits. The caller stays
    // waiting.
    virtual QByteArray pendingAddress() = 0;

    virtual QByteArray remoteAddress(int index) const = 0;
    virtual bool isConnected(int index) const = 0;
    virtual void send(int index, const QByteArray& data) = 0;
    // The same, for bytes whose delivery nobody waits for: a layer may leave
    // out the sendComplete() that this send alone would raise. One that an
    // earlier or later send() on the index asked for still comes.
    virtual void sendUnwatched(int index, const QByteArray& data) { send(index, data); }
    // Bytes handed to send() that have not reached the kernel yet.
    virtual qint64 unsentBytes(int index) const = 0;
    // Bytes the kernel holds for the peer that it has not acknowledged yet
    // (SIOCOUTQ): what a peer that does not read leaves behind beyond ours.
    virtual qint64 kernelUnsentBytes(int index) const = 0;
    // Whether more than `limit` bytes handed to send() have not reached the
    // peer, counted over our queue and the kernel's. A layer that knows the
    // kernel cannot hold that much may answer without asking it.
    virtual bool unsentOver(int index, qint64 limit) const {
        return unsentBytes(index) + kernelUnsentBytes(index) > limit;
    }
    // Stops or resumes reading a connection. While paused its bytes stay in
    // the kernel (whose window then holds the peer back) and no dataArrival is
    // raised for it; bytes that wait when it resumes are announced from the
    // event loop, never from inside this call. A peer that hangs up while
    // paused is reported with error() at once.
    virtual void setReadPaused(int index, bool paused) = 0;
    virtual QByteArray takeData(int index) = 0;
    virtual void close(int index) = 0;

    // Open connection sockets (the listener and refused callers not counted).
    virtual int openCount() const = 0;

signals:
    void connectionRequest();
    void dataArrival(int index);
    void sendComplete(int index);
    void error(int index);
};
