#include "database/database_url.h"

#include <libpq-fe.h>

namespace {

// Seconds to reach the server and milliseconds a sent request may stay
// unanswered on a TCP connection before libpq gives up on it: a lost server
// must not stop the registry's one thread for long.
constexpr const char* kConnectTimeout = "10";
constexpr const char* kTcpUserTimeout = "10000";

QString printable(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (!c.isPrint())
            c = QLatin1Char('?');
    return out;
}

QString quoted(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

} // namespace

std::optional<DatabaseUrl> DatabaseUrl::parse(const QString& text, QString* error) {
    auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (text.trimmed().isEmpty())
        return refuse(QStringLiteral("the database URL is empty"));
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.toUtf8().constData(), &message);
    if (!options) {
        PQfreemem(message);
        return refuse(QStringLiteral("the database URL is neither a postgresql:// URI nor a key=value string that "
                                     "libpq accepts"));
    }
    DatabaseUrl url;
    QString unusable;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == QLatin1String("password")) {
            url.m_password = value;
            continue;
        }
        // QtSql turns every ';' of its connect options into a space.
        if (value.contains(QLatin1Char(';')))
            unusable = key;
        url.m_options.append({key, value});
    }
    PQconninfoFree(options);
    if (!unusable.isEmpty())
        return refuse(QStringLiteral("the database URL's %1 contains a ';', which the PostgreSQL driver cannot pass on")
                          .arg(printable(unusable)));
    return url;
}

QStringList DatabaseUrl::connectOptions() const {
    QStringList result;
    bool connectTimeout = false, tcpUserTimeout = false;
    for (const Option& o : m_options) {
        result << o.key + QLatin1Char('=') + quoted(o.value);
        connectTimeout = connectTimeout || o.key == QLatin1String("connect_timeout");
        tcpUserTimeout = tcpUserTimeout || o.key == QLatin1String("tcp_user_timeout");
    }
    if (!connectTimeout)
        result << QStringLiteral("connect_timeout=%1").arg(QLatin1String(kConnectTimeout));
    if (!tcpUserTimeout)
        result << QStringLiteral("tcp_user_timeout=%1").arg(QLatin1String(kTcpUserTimeout));
    return result;
}

QString DatabaseUrl::describe() const {
    QString host, port, dbname, user;
    for (const Option& o : m_options) {
        if (o.key == QLatin1String("host") || (o.key == QLatin1String("hostaddr") && host.isEmpty()))
            host = o.value;
        else if (o.key == QLatin1String("port"))
            port = o.value;
        else if (o.key == QLatin1String("dbname"))
            dbname = o.value;
        else if (o.key == QLatin1String("user"))
            user = o.value;
    }
    QString text = QStringLiteral("PostgreSQL database");
    if (!dbname.isEmpty())
        text += QLatin1Char(' ') + dbname;
    text += host.isEmpty() ? QStringLiteral(" on the local socket")
                           : (host.startsWith(QLatin1Char('/')) ? QStringLiteral(" on the socket in ")
                                                                 : QStringLiteral(" on ")) +
                                 host;
    if (!port.isEmpty())
        text += QStringLiteral(" port ") + port;
    if (!user.isEmpty())
        text += QStringLiteral(" as ") + user;
    return printable(text);
}
