#pragma once

#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;
struct pg_conn;

// Hears the announcements of changed bans on a shared PostgreSQL database:
// a connection of its own (statements on the registry's connection would
// swallow announcements that arrive meanwhile) that only LISTENs, read when
// its socket has data. `heard` is called once per batch of announcements.
class BanAnnouncements {
public:
    explicit BanAnnouncements(std::function<void()> heard);
    ~BanAnnouncements();
    BanAnnouncements(const BanAnnouncements&) = delete;
    BanAnnouncements& operator=(const BanAnnouncements&) = delete;

    // Opens a connection like `connectionName` (same server, user and
    // password) and listens; false when it cannot.
    bool listen(const QString& connectionName);
    void stop();
    // Still connected? A lost connection is closed here and false returned.
    bool isListening();

private:
    void onReadable();

    std::function<void()> m_heard;
    QString m_name;
    pg_conn* m_connection = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
