#include "admin/status_page.h"

namespace {

const char* const kStyle =
    "body{font-family:system-ui,sans-serif;margin:0;padding:1em;background:#f6f7f9;color:#1d2430}"
    "h1{font-size:1.3em;margin:0 0 .6em}"
    ".facts{display:flex;flex-wrap:wrap;gap:.5em;margin:0 0 1em;padding:0}"
    ".facts div{background:#fff;border:1px solid #d5d9e0;border-radius:6px;padding:.4em .7em}"
    ".facts dt{font-size:.75em;color:#5b6472}.facts dd{margin:0;font-weight:600}"
    "table{border-collapse:collapse;width:100%;background:#fff}"
    "th,td{text-align:left;padding:.4em .5em;border-bottom:1px solid #e3e6eb;vertical-align:top;"
    "overflow-wrap:anywhere}"
    "th{background:#eef0f4;font-size:.85em}"
    ".official{color:#0b6b2f;font-weight:600}"
    "@media (max-width:600px){thead{display:none}tr{display:block;border-bottom:2px solid #d5d9e0}"
    "td{display:block;border:0;padding:.15em .5em}td::before{content:attr(data-label) \": \";color:#5b6472}}"
    "footer{margin-top:1em;font-size:.85em}";

QString fact(const char* label, const QString& value) {
    return QStringLiteral("<div><dt>%1</dt><dd>%2</dd></div>").arg(QLatin1String(label), htmlText(value));
}

QString cell(const char* label, const QString& html) {
    return QStringLiteral("<td data-label=\"%1\">%2</td>").arg(QLatin1String(label), html);
}

} // namespace

QString htmlText(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (QChar c : text) {
        switch (c.unicode()) {
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '&': out += QLatin1String("&amp;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default:
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
                out += QChar(0xFFFD);
            else
                out += c;
        }
    }
    return out;
}

QString uptimeText(qint64 seconds) {
    if (seconds < 0)
        seconds = 0;
    const qint64 days = seconds / 86400;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg((seconds / 3600) % 24, 2, 10, QLatin1Char('0'))
                              .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
                              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (days == 0)
        return clock;
    return QStringLiteral("%1 %2, %3").arg(days).arg(days == 1 ? QStringLiteral("day") : QStringLiteral("days"), clock);
}

QByteArray statusPage(const StatusFacts& facts, const QList<ListedServer>& servers) {
    QString html;
    html += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                           "<title>The Tarvane Classic Server Registry</title><style>");
    html += QLatin1String(kStyle);
    html += QStringLiteral("</style></head><body><h1>The Tarvane Classic Server Registry</h1><dl class=\"facts\">");
    html += fact("Servers online", QString::number(servers.size()));
    html += fact("Connections", QString::number(facts.connections));
    html += fact("Accesses per hour", facts.accessRate.section(QLatin1String("= "), 1));
    html += fact("Uptime", uptimeText(facts.uptimeSeconds));
    html += fact("Version", facts.version);
    html += fact("Health", facts.health);
    html += QStringLiteral("</dl>");
    if (servers.isEmpty()) {
        html += QStringLiteral("<p id=\"no-servers\">No server is online.</p>");
    } else {
        html += QStringLiteral("<table id=\"servers\"><thead><tr><th>Name</th><th>Players</th><th>Kind</th>"
                               "<th>Description</th><th>Address</th><th>User</th></tr></thead><tbody>");
        for (const ListedServer& s : servers) {
            html += QStringLiteral("<tr>");
            html += cell("Name", htmlText(s.name));
            html += cell("Players", QString::number(s.players));
            html += cell("Kind", s.official ? QStringLiteral("<span class=\"official\">Official</span>")
                                            : QStringLiteral("Unofficial"));
            html += cell("Description", htmlText(s.description));
            html += cell("Address", htmlText(s.address));
            html += cell("User", htmlText(s.user));
            html += QStringLiteral("</tr>");
        }
        html += QStringLiteral("</tbody></table>");
    }
    html += QStringLiteral("<footer><a href=\"/servers.json\">This list as JSON</a> · "
                           "<a href=\"/metrics\">Metrics</a></footer></body></html>\n");
    return html.toUtf8();
}
