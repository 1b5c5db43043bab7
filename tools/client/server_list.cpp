#include "client/server_list.h"

#include "client/messages.h"

namespace TavClient {

namespace {

ServerListResult failed(ServerListResult result, BlockingClient::Error error, const QString& text) {
    result.ok = false;
    result.error = error;
    result.errorText = text;
    return result;
}

} // namespace

ServerListResult fetchServerList(BlockingClient& client) {
    ServerListResult result;
    int first = 1;
    for (;;) {
        const qint64 before = client.bytesReceived();
        if (!client.send(Messages::listQuery(quint8(first))))
            return failed(result, client.error(), client.errorText());
        for (;;) {
            const std::optional<Frame> frame = client.readFrame();
            if (!frame && client.error() == BlockingClient::Error::Closed) {
                // Only a close without a single byte means "nothing (more) to
                // list"; anything else is a peer that is no registry, or a
                // reply cut short.
                const qint64 heard = client.bytesReceived() - before;
                if (heard == 0) {
                    result.ok = true;
                    return result;
                }
                return failed(result, BlockingClient::Error::Truncated,
                              QStringLiteral("the peer closed the connection after %1 bytes that are no complete "
                                             "list reply")
                                  .arg(heard));
            }
            if (!frame)
                return failed(result, client.error(), client.errorText());
            if (frame->type == MessageType::ToClient::ListEntry) {
                std::optional<Replies::ListEntry> entry = Replies::parseListEntry(frame->payload);
                if (!entry)
                    return failed(result, BlockingClient::Error::None,
                                  QStringLiteral("malformed list entry from the registry"));
                result.entries.append(*entry);
                continue;
            }
            const Replies::Marker marker = Replies::parseMarker(*frame);
            if (marker.kind == Replies::Marker::Kind::End) {
                ++result.pages;
                result.ok = true;
                return result;
            }
            if (marker.kind == Replies::Marker::Kind::Continue) {
                ++result.pages;
                // A marker that does not move forward would loop for ever.
                if (marker.next <= first)
                    return failed(result, BlockingClient::Error::None,
                                  QStringLiteral("the registry asked to continue from slot %1 after slot %2")
                                      .arg(marker.next)
                                      .arg(first));
                first = marker.next;
                break;
            }
            return failed(result, BlockingClient::Error::None,
                          QStringLiteral("unexpected message of type %1 in a list reply").arg(frame->type));
        }
    }
}

ServerListResult fetchServerList(const QString& host, quint16 port, int timeoutMs) {
    BlockingClient client(timeoutMs);
    if (!client.connectTo(host, port))
        return failed({}, client.error(), client.errorText());
    ServerListResult result = fetchServerList(client);
    client.close();
    return result;
}

} // namespace TavClient
