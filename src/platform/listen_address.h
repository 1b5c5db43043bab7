#pragma once

#include <QHostAddress>
#include <QString>

#include <optional>

// "ADDRESS:PORT" as an option or a configuration value gives it: a numeric
// IPv4 address, or an IPv6 address in brackets ("[::1]:9100"), and a port
// from 0 (a free one) to 65535. Names are not resolved: what is listened on
// must not depend on a resolver at start-up.
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;

    // Nothing, with the reason in `why`, when `text` is not of that form.
    static std::optional<ListenAddress> parse(const QString& text, QString* why);
    // "http://ADDRESS:PORT/", brackets around an IPv6 address.
    static QString url(const QHostAddress& address, quint16 port);
};
