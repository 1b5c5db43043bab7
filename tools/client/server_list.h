#pragma once

#include "client/blocking_client.h"
#include "client/replies.h"

#include <QList>
#include <QString>

namespace TavClient {

struct ServerListResult {
    bool ok = false;
    QList<Replies::ListEntry> entries; // in the order received, page after page
    int pages = 0;
    BlockingClient::Error error = BlockingClient::Error::None;
    QString errorText;
};

// Asks for the list like a game client does: S = 1, then S = n for as long as
// the registry answers with the continue marker n. A registry that closes
// without sending a byte has no (further) server to list: that ends the list.
// A close after bytes that do not end in a marker fails with Truncated.
ServerListResult fetchServerList(const QString& host, quint16 port, int timeoutMs = 5000);
// The same on a connection that is open and not logged in.
ServerListResult fetchServerList(BlockingClient& client);

} // namespace TavClient
