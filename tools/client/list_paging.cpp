#include "client/list_paging.h"

#include "client/frame_codec.h"
#include "client/replies.h"

#include <algorithm>

namespace TavClient {

QByteArray buildListReply(QList<ListedServer> servers, int firstSlot) {
    std::sort(servers.begin(), servers.end(),
              [](const ListedServer& a, const ListedServer& b) { return a.slot < b.slot; });
    QByteArray officials; // built newest first, so kept reversed in a list
    QList<QByteArray> officialFrames;
    QByteArray rest;
    qsizetype size = 0;
    int next = 256;
    for (const ListedServer& s : servers) {
        if (s.slot < firstSlot || s.slot > 255)
            continue;
        if (size >= kListPageLimit) {
            next = s.slot;
            break;
        }
        QByteArray frame;
        appendFrame(frame, 4,
                    Replies::listEntryPayload(s.user, s.address, s.players, s.name, s.official, s.description,
                                              s.updateUrl));
        size += frame.size();
        if (s.official)
            officialFrames.prepend(frame);
        else
            rest.append(frame);
    }
    if (size == 0)
        return {};
    QByteArray reply;
    reply.reserve(size + 5);
    for (const QByteArray& f : officialFrames)
        reply.append(f);
    reply.append(rest);
    reply.append(next > 255 ? Replies::endMarkerFrame() : Replies::continueMarkerFrame(quint8(next)));
    return reply;
}

} // namespace TavClient
