#pragma once

#include "database/postgres_handshake.h"

#include <functional>
#include <memory>

class QSocketNotifier;
struct pg_conn;

// Hears the announcements of changed bans on a shared PostgreSQL database:
// a connection of its own (statements on the registry's connection would
// swallow announcements that arrive meanwhile) that only LISTENs, read when
// its socket has data. `heard` is called once per batch of announcements,
// and once when listening begins (a change just before it was not heard).
// Nothing here waits for the server: the connection is made and the LISTEN
// answered as the socket becomes ready.
class BanAnnouncements {
public:
    explicit BanAnnouncements(std::function<void()> heard);
    ~BanAnnouncements();
    BanAnnouncements(const BanAnnouncements&) = delete;
    BanAnnouncements& operator=(const BanAnnouncements&) = delete;

    // Starts a connection with the parameters of `like` (same server, user
    // and password) that will listen; false when it cannot even start.
    bool listen(pg_conn* like);
    void stop();
    // Listening now? A lost connection is closed here and false returned; so
    // is one still not listening (the caller starts again later).
    bool isListening();

private:
    void onConnected();
    void onReadable();

    std::function<void()> m_heard;
    pg_conn* m_connection = nullptr;
    PostgresHandshake m_handshake;
    bool m_listening = false;
    bool m_confirmed = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
