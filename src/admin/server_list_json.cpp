#include "admin/server_list_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QByteArray serverListJson(const QList<ListedServer>& servers) {
    QJsonArray list;
    for (const ListedServer& s : servers) {
        QJsonObject o;
        o.insert(QStringLiteral("user"), s.user);
        o.insert(QStringLiteral("address"), s.address);
        o.insert(QStringLiteral("name"), s.name);
        o.insert(QStringLiteral("players"), s.players);
        o.insert(QStringLiteral("official"), s.official);
        o.insert(QStringLiteral("description"), s.description);
        o.insert(QStringLiteral("update_url"), s.updateUrl);
        list.append(o);
    }
    // QJsonObject sorts its keys; the documented order is written by hand
    // around the two members instead.
    QByteArray out = "{\"servers\":" + QJsonDocument(list).toJson(QJsonDocument::Compact) +
                     ",\"count\":" + QByteArray::number(servers.size()) + "}";
    // These characters occur only inside strings in JSON text, so replacing
    // them everywhere keeps the document equal.
    out.replace('<', "\\u003c").replace('>', "\\u003e").replace('&', "\\u0026");
    return out;
}
