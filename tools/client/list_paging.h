#pragma once

#include <QByteArray>
#include <QList>

// How the registry pages its list of online servers, reproduced on the peer
// side so that fakes and the load tool know the exact bytes to expect.
namespace TavClient {

constexpr int kListPageLimit = 1024; // no further entry once a page reaches this size

struct ListedServer {
    int slot = 0; // 1..255
    QByteArray user;
    QByteArray address;
    quint8 players = 0;
    QByteArray name;
    bool official = false;
    QByteArray description;
    QByteArray updateUrl;
};

// The reply to a list query starting at `firstSlot` over `servers` (any order):
// officials first (highest slot first), then the rest in slot order, then the
// end or continue marker. Empty when no server sits at or after firstSlot: the
// registry then closes without reply.
QByteArray buildListReply(QList<ListedServer> servers, int firstSlot);

} // namespace TavClient
