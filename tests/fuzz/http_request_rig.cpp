#include "http_request_rig.h"

#include "fuzz_harness.h"
#include "fuzz_registry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class Reader {
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}
    quint8 byte() { return m_pos < m_data.size() ? quint8(m_data[m_pos++]) : 0; }
    QByteArray bytes(qsizetype n) {
        n = std::min(n, m_data.size() - m_pos);
        const QByteArray out = m_data.sliced(m_pos, n).toByteArray();
        m_pos += n;
        return out;
    }
    qsizetype position() const { return m_pos; }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};

// The clock of the status page's uptime: fixed, so the same input always
// gets the same page.
constexpr qint64 kStartedAt = 1700000000;
constexpr qint64 kNow = kStartedAt + 93784; // 1 day, 02:03:04
// Rounds of the event loop with nothing to read, nothing to write and
// nothing new for the caller before the exchange counts as finished.
constexpr int kIdleRounds = 3;

} // namespace

HttpRequestRig::HttpRequestRig(const QString& dataDir) {
    m_registry = FuzzHarness::startRegistry(m_net, m_clock, dataDir);
    m_endpoint = std::make_unique<HttpEndpoint>(*m_registry, kStartedAt, [] { return kNow; });
    QString error;
    if (!m_endpoint->listen(QHostAddress::LocalHost, 0, &error))
        FuzzHarness::fail("the HTTP endpoint cannot listen on loopback");
}

HttpRequestRig::~HttpRequestRig() {
    m_endpoint.reset();
    m_registry->shutdown();
}

HttpRequestRig::Exchange HttpRequestRig::run(QByteArrayView input) {
    Exchange x;
    const bool split = !input.isEmpty() && (quint8(input[0]) & 0x80);
    const qsizetype requestStart = bringServersOnline(input);
    x.request = input.sliced(requestStart).toByteArray();
    x.listed = ListedServers(m_registry->clients()).entries();
    x.connections = m_registry->connectionCount();
    x.etag = m_endpoint->serverListEtag();
    x.response = converse(x.request, split, &x.reset);
    takeServersOffline();
    return x;
}

// The servers are callers of the in-memory layer that the registry took in
// the usual way; their session is then written straight into the slot, so
// that texts the wire would refuse (a 0 byte, control characters, over-long
// fields from an older database) reach the pages too.
qsizetype HttpRequestRig::bringServersOnline(QByteArrayView input) {
    Registry& r = *m_registry;
    Reader in(input);
    const int count = (in.byte() & 3) % (kMaxServers + 1);
    for (int k = 0; k < count; ++k) {
        const int peer = m_net.connectPeer("10.0." + QByteArray::number(k) + ".7");
        const int index = m_net.peer(peer).index;
        if (index == 0)
            FuzzHarness::fail("a server's caller was not taken in");
        ClientSlot& s = r.clients()[index];
        s.ServerId = in.bytes(in.byte() % 16);
        if (s.ServerId.isEmpty())
            s.ServerId = "server" + QByteArray::number(k);
        s.ServerName = in.bytes(in.byte() % 64);
        s.Description = in.bytes(in.byte());
        s.UpdateUrl = in.bytes(in.byte() % 64);
        s.PlayerCount = in.byte();
        s.Official = in.byte() & 1;
        s.Mode = SessionMode::Server;
        r.onlineServers().add(s.ServerId);
    }
    r.clients().listChanged();
    return in.position();
}

void HttpRequestRig::takeServersOffline() {
    Registry& r = *m_registry;
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kLastRegularSlot; ++i)
        if (r.clients()[i].InUse)
            r.closeClient(i, CloseReason::Shutdown);
    if (r.connectionCount() != 0 || !m_net.forgetPeers())
        FuzzHarness::fail("a server's caller outlived the input");
    for (int i = SlotTable::kFirstSlot; i <= SlotTable::kOverflowSlot; ++i)
        r.clients()[i] = ClientSlot{};
}

// Whether the endpoint has taken every byte the caller sent and written
// every answer to the kernel: then nothing more comes unless the caller
// says more. Its sockets are the guard's children.
bool HttpRequestRig::endpointIdle() const {
    for (const QTcpSocket* socket : m_endpoint->guard().findChildren<QTcpSocket*>()) {
        int unread = 0;
        if (socket->socketDescriptor() >= 0 && ::ioctl(int(socket->socketDescriptor()), FIONREAD, &unread) != 0)
            unread = 0;
        if (unread > 0 || socket->bytesToWrite() > 0)
            return false;
    }
    return true;
}

// One caller on a plain socket: everything is sent, and everything is read
// until the endpoint has nothing more to say (it has read all and written
// all) or closes or drops the connection. The caller does not end its side
// first: the endpoint would then drop the connection unanswered. The
// endpoint runs in this thread's event loop meanwhile.
QByteArray HttpRequestRig::converse(const QByteArray& request, bool split, bool* reset) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_endpoint->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // On loopback the kernel completes the connection before the endpoint accepts it.
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        FuzzHarness::fail("cannot connect to the HTTP endpoint", errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    QByteArray received;
    qsizetype sent = 0;
    const qsizetype firstPart = split ? request.size() / 2 : request.size();
    bool firstPartRead = !split;
    bool accepted = false;
    int idleRounds = 0;
    qsizetype receivedBefore = -1;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        while (sent < request.size()) {
            const qsizetype until = firstPartRead ? request.size() : firstPart;
            if (sent == until) {
                QCoreApplication::processEvents();
                firstPartRead = true;
                continue;
            }
            const ssize_t n = ::send(fd, request.constData() + sent, size_t(until - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            else
                sent = request.size(); // the endpoint has gone; what it answered is read below
        }
        QCoreApplication::processEvents();
        accepted = accepted || m_endpoint->guard().activeConnections() > 0 ||
                   m_endpoint->guard().turnedAway() > 0;

        char buffer[16384];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, n);
        if (n == 0)
            break;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            *reset = true;
            break;
        }
        // Idle for a few rounds in a row, nothing new arriving: work the
        // endpoint posted for later (the next of pipelined requests) has run too.
        const bool quiet = sent == request.size() && accepted && received.size() == receivedBefore && endpointIdle();
        idleRounds = quiet ? idleRounds + 1 : 0;
        receivedBefore = received.size();
        if (idleRounds == kIdleRounds)
            break;
        if (clock.elapsed() > kExchangeDeadlineMs)
            FuzzHarness::fail("the endpoint neither finished nor closed", int(request.size()));
    }
    ::close(fd);

    // The endpoint's side is gone once its socket is deleted; until then the
    // guard counts it, and a guard that never let go would turn every later
    // caller away.
    while (m_endpoint->guard().activeConnections() != 0) {
        if (clock.elapsed() > kExchangeDeadlineMs)
            FuzzHarness::fail("the endpoint still counts a connection that has ended");
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return received;
}
