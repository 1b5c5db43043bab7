#include "platform/listen_address.h"

std::optional<ListenAddress> ListenAddress::parse(const QString& text, QString* why) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        *why = QStringLiteral("expected ADDRESS:PORT, not '%1'").arg(text);
        return std::nullopt;
    }
    QString host = text.first(colon);
    const QString portText = text.sliced(colon + 1);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.sliced(1, host.size() - 2);
    ListenAddress out;
    // An IPv6 address without brackets would make the port ambiguous.
    if (!out.address.setAddress(host) ||
        (out.address.protocol() == QAbstractSocket::IPv6Protocol) != bracketed) {
        *why = QStringLiteral("'%1' is not a numeric IPv4 address or a bracketed IPv6 address").arg(text.first(colon));
        return std::nullopt;
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535 || portText.startsWith(QLatin1Char('+'))) {
        *why = QStringLiteral("the port must be a number from 0 to 65535, not '%1'").arg(portText);
        return std::nullopt;
    }
    out.port = quint16(port);
    return out;
}

QString ListenAddress::url(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}
