#pragma once

#include "protocol/listed_servers.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The figures the status page shows beside the list.
struct StatusFacts {
    QString version;
    int connections = 0;
    QString accessRate;     // "Accesses/Hour = n"
    qint64 uptimeSeconds = 0;
    QString health;         // "ok", or why not
};

// Text from peers as HTML text: markup characters and quotes escaped,
// control characters shown as U+FFFD so that nothing invisible reaches the page.
QString htmlText(const QString& text);
// "3 days, 04:05:06", "1 day, 00:00:09" or "04:05:06".
QString uptimeText(qint64 seconds);

// GET /: one self-contained HTML page (styles inline, no script, nothing
// fetched from elsewhere), narrow enough for a phone.
QByteArray statusPage(const StatusFacts& facts, const QList<ListedServer>& servers);
