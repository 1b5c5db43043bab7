#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// The list of online servers (the main window's lstServers): one entry per
// logged-in game server, its ServerId, in login order.
class OnlineServerList : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void add(const QByteArray& serverId);
    // Removes the first entry, from the top, equal to serverId exactly (case-sensitive).
    void removeFirst(const QByteArray& serverId);

    int count() const { return int(m_entries.size()); }
    QString text(int row) const;
    QStringList texts() const;

signals:
    void added(int row, const QString& text);
    void removed(int row);

private:
    QList<QByteArray> m_entries;
};
