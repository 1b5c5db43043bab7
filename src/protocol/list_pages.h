#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

class SlotTable;

// The replies to list queries, one per first slot asked for, each built the
// first time it is asked for and then sent as it is until something a page
// shows changes (the slot table's list generation moves on: a login, a
// close, a report, an official mark). Under a crowd of clients that page
// through an unchanged list, a reply costs a look-up instead of a build.
// At most one page per slot number is kept, so hostile queries cannot make
// it grow.
class ListPages {
public:
    explicit ListPages(const SlotTable& clients) : m_clients(clients) {}

    // The reply to a query from `start` (1..255), as ListQuery::buildReply
    // makes it; empty when no server is online at or after `start`.
    QByteArray page(int start);
    // Pages built since the start: tells a reuse from a rebuild.
    quint64 builds() const { return m_builds; }

    // The event line that goes with every reply to the caller in `slot`,
    // made once per caller's address instead of once per reply.
    const QString& sentToLine(int slot, const QByteArray& ip);

private:
    static constexpr int kPages = 256;
    struct SentTo {
        QByteArray ip;
        QString line;
    };
    std::array<SentTo, kPages> m_sentTo{};

    const SlotTable& m_clients;
    std::array<QByteArray, kPages> m_pages{};
    // The list generation each page was built for, plus one (0: never built).
    std::array<quint64, kPages> m_builtFor{};
    quint64 m_builds = 0;
};
