// Fuzz target: raw bytes from one caller into the HTTP endpoint's listener
// on loopback, through the connection guard, Qt's HTTP server and the
// endpoint's routing, with up to three game servers online whose texts the
// input chooses (http_request_rig.h describes the input).
//
// What came back must be a row of well-formed answers, each with one of the
// codes the endpoint gives (200, 304, 404, 405), its headers, and a body as
// long as Content-Length says (or none, for HEAD). Each body must be what its
// kind promises: the status page shows every server's texts as text (every
// tag and entity is the page's own, and each cell reads back as the
// server's text), the JSON list parses and carries the texts unchanged with
// no raw <, > or &, the metrics are well-formed samples, /healthz says "ok".
#include "fuzz_harness.h"
#include "http_request_rig.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>


namespace {

struct Answer {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool hasBody = true;
    QByteArray body;

    QByteArray header(QByteArrayView name) const {
        for (const auto& h : headers)
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        return {};
    }
};

// The texts of a server as the page must show them: characters that would
// act as controls are shown as U+FFFD.
QString shown(const QString& text) {
    QString out = text;
    for (QChar& c : out)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            c = QChar(0xFFFD);
    return out;
}

// Reads one answer at `pos`; false when the bytes there are not one.
bool readAnswer(const QByteArray& in, qsizetype& pos, Answer* out) {
    static const QRegularExpression statusLine(QStringLiteral("^HTTP/1\\.1 ([0-9]{3}) [A-Za-z ]+$"));
    static const QRegularExpression headerLine(QStringLiteral("^([A-Za-z0-9-]+): ([\\x20-\\x7e]*)$"));
    const qsizetype headEnd = in.indexOf("\r\n\r\n", pos);
    if (headEnd < 0)
        return false;
    const QList<QByteArray> lines = in.mid(pos, headEnd - pos).split('\n');
    for (const QByteArray& line : lines)
        if (!line.endsWith('\r') && &line != &lines.last())
            return false;
    const QRegularExpressionMatch status =
        statusLine.match(QString::fromLatin1(lines.first().endsWith('\r') ? lines.first().chopped(1) : lines.first()));
    if (!status.hasMatch())
        return false;
    out->status = status.captured(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const QRegularExpressionMatch h = headerLine.match(QString::fromLatin1(line));
        if (!h.hasMatch() || line.contains('\0'))
            return false;
        out->headers.append({h.captured(1).toLatin1(), h.captured(2).toLatin1()});
    }
    pos = headEnd + 4;
    bool numeric = false;
    const qsizetype length = out->header("Content-Length").toLongLong(&numeric);
    if (!numeric || length < 0)
        return false;
    // The answer to HEAD has no body; no body of ours begins like an answer.
    if (length > 0 && (pos == in.size() || in.sliced(pos).startsWith("HTTP/1.1 "))) {
        out->hasBody = false;
        return true;
    }
    if (in.size() - pos < length)
        return false;
    out->body = in.mid(pos, length);
    pos += length;
    return true;
}

QString decodeEntities(const QString& text) {
    static const QList<QPair<QString, QChar>> entities{{QStringLiteral("&lt;"), QLatin1Char('<')},
                                                        {QStringLiteral("&gt;"), QLatin1Char('>')},
                                                        {QStringLiteral("&amp;"), QLatin1Char('&')},
                                                        {QStringLiteral("&quot;"), QLatin1Char('"')},
                                                        {QStringLiteral("&#39;"), QLatin1Char('\'')}};
    QString out;
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] != QLatin1Char('&')) {
            out += text[i++];
            continue;
        }
        bool known = false;
        for (const auto& e : entities) {
            if (QStringView(text).sliced(i).startsWith(e.first)) {
                out += e.second;
                i += e.first.size();
                known = true;
                break;
            }
        }
        if (!known)
            FuzzHarness::fail("the status page holds a raw &");
    }
    return out;
}

void checkStatusPage(const QByteArray& body, const HttpRequestRig::Exchange& x) {
    const QString page = QString::fromUtf8(body);
    if (page.toUtf8() != body)
        FuzzHarness::fail("the status page is not UTF-8");
    for (QChar c : page)
        if ((c.unicode() < 0x20 && c != QLatin1Char('\n')) || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            FuzzHarness::fail("the status page holds a control character", c.unicode());
    // Every tag is one the page itself writes.
    static const QRegularExpression tag(QStringLiteral(
        "^<(!DOCTYPE html|/?(html|head|meta|title|style|body|h1|dl|div|dt|dd|p|table|thead|tbody|tr|th|td|span|footer|a)"
        "( [^<>]*)?)>"));
    for (qsizetype i = page.indexOf(QLatin1Char('<')); i >= 0; i = page.indexOf(QLatin1Char('<'), i + 1))
        if (!tag.match(QStringView(page).sliced(i)).hasMatch())
            FuzzHarness::fail("the status page holds a tag of someone else's", int(i));
    decodeEntities(page);
    if (!page.contains(QStringLiteral("<dt>Servers online</dt><dd>%1</dd>").arg(x.listed.size())) ||
        !page.contains(QStringLiteral("<dt>Connections</dt><dd>%1</dd>").arg(x.connections)))
        FuzzHarness::fail("the status page counts other servers or connections");

    const qsizetype bodyStart = page.indexOf(QStringLiteral("<tbody>"));
    if (x.listed.isEmpty()) {
        if (bodyStart >= 0 || !page.contains(QStringLiteral("<p id=\"no-servers\">No server is online.</p>")))
            FuzzHarness::fail("the status page lists servers when none is online");
        return;
    }
    const qsizetype bodyEnd = page.indexOf(QStringLiteral("</tbody>"));
    if (bodyStart < 0 || bodyEnd < bodyStart)
        FuzzHarness::fail("the status page has no table of servers");
    const QStringList rows = page.mid(bodyStart + 7, bodyEnd - bodyStart - 7).split(QStringLiteral("</tr>"), Qt::SkipEmptyParts);
    if (rows.size() != x.listed.size())
        FuzzHarness::fail("the status page shows another number of servers", int(rows.size()));
    static const QRegularExpression cell(QStringLiteral("<td data-label=\"([A-Za-z]+)\">(.*?)</td>"));
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const ListedServer& s = x.listed[r];
        QStringList cells;
        for (const QRegularExpressionMatch& m : cell.globalMatch(rows[r]))
            cells.append(m.captured(2));
        const QString kind = s.official ? QStringLiteral("<span class=\"official\">Official</span>")
                                        : QStringLiteral("Unofficial");
        if (cells.size() != 6 || decodeEntities(cells[0]) != shown(s.name) || cells[1] != QString::number(s.players) ||
            cells[2] != kind || decodeEntities(cells[3]) != shown(s.description) ||
            decodeEntities(cells[4]) != shown(s.address) || decodeEntities(cells[5]) != shown(s.user))
            FuzzHarness::fail("a row of the status page does not read back as its server", int(r));
    }
}

void checkServerList(const QByteArray& body, const HttpRequestRig::Exchange& x) {
    if (body.contains('<') || body.contains('>') || body.contains('&'))
        FuzzHarness::fail("the JSON list holds a raw <, > or &");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        FuzzHarness::fail("the JSON list does not parse", int(error.offset));
    const QJsonObject root = doc.object();
    const QJsonArray servers = root.value(QStringLiteral("servers")).toArray();
    if (root.value(QStringLiteral("count")).toInt(-1) != x.listed.size() || servers.size() != x.listed.size())
        FuzzHarness::fail("the JSON list counts another number of servers", int(servers.size()));
    for (qsizetype i = 0; i < servers.size(); ++i) {
        const QJsonObject o = servers[i].toObject();
        const ListedServer& s = x.listed[i];
        if (o.value(QStringLiteral("user")).toString() != s.user ||
            o.value(QStringLiteral("address")).toString() != s.address ||
            o.value(QStringLiteral("name")).toString() != s.name ||
            o.value(QStringLiteral("description")).toString() != s.description ||
            o.value(QStringLiteral("update_url")).toString() != s.updateUrl ||
            o.value(QStringLiteral("players")).toInt(-1) != s.players ||
            o.value(QStringLiteral("official")).toBool(!s.official) != s.official)
            FuzzHarness::fail("an entry of the JSON list differs from its server", int(i));
    }
}

void checkMetrics(const QByteArray& body, const HttpRequestRig::Exchange& x) {
    static const QRegularExpression comment(QStringLiteral("^# (HELP|TYPE) [a-z_]+ .+$"));
    static const QRegularExpression sample(
        QStringLiteral("^([a-z_]+)(\\{[a-z_]+=\"[^\"\\\\]*\"(,[a-z_]+=\"[^\"\\\\]*\")*\\})? (-?[0-9.e+]+|NaN)$"));
    if (!body.endsWith('\n'))
        FuzzHarness::fail("the metrics do not end with a line end");
    bool online = false;
    for (const QByteArray& line : body.chopped(1).split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (comment.match(text).hasMatch())
            continue;
        const QRegularExpressionMatch m = sample.match(text);
        if (!m.hasMatch())
            FuzzHarness::fail("a metrics line is neither a comment nor a sample");
        if (m.captured(1) == QLatin1String("tavregistry_servers_online")) {
            online = true;
            if (m.captured(4).toInt() != x.listed.size())
                FuzzHarness::fail("the metrics count another number of servers online");
        }
    }
    if (!online)
        FuzzHarness::fail("the metrics do not say how many servers are online");
}

void check(const HttpRequestRig::Exchange& x, const QByteArray& etag) {
    qsizetype pos = 0;
    while (pos < x.response.size()) {
        Answer a;
        if (!readAnswer(x.response, pos, &a)) {
            if (x.reset)
                return; // dropped: the last answer may be cut
            FuzzHarness::fail("the endpoint sent something that is not an answer", int(pos));
        }
        if (a.header("X-Content-Type-Options") != "nosniff")
            FuzzHarness::fail("an answer without nosniff", a.status);
        const QByteArray type = a.header("Content-Type");
        if (!a.hasBody && a.status != 404 && a.status != 405)
            FuzzHarness::fail("an answer without its body that is no refusal", a.status);
        switch (a.status) {
        case 404:
            if (a.hasBody && a.body != "not found\n")
                FuzzHarness::fail("a 404 with another body");
            break;
        case 405:
            if (a.header("Allow") != "GET" || (a.hasBody && a.body != "method not allowed\n"))
                FuzzHarness::fail("a 405 without Allow: GET or with another body");
            break;
        case 304:
            if (a.header("ETag") != etag || !a.body.isEmpty())
                FuzzHarness::fail("a 304 for another list or with a body");
            break;
        case 200:
            if (type == "text/html; charset=utf-8")
                checkStatusPage(a.body, x);
            else if (type == "application/json") {
                // The ETag names this body, so a 304 can never stand for another list.
                if (a.header("ETag") != etag ||
                    etag != '"' + QCryptographicHash::hash(a.body, QCryptographicHash::Sha256).toHex().left(32) + '"')
                    FuzzHarness::fail("the JSON list comes with another ETag");
                checkServerList(a.body, x);
            } else if (type.startsWith("text/plain; version=0.0.4"))
                checkMetrics(a.body, x);
            else if (type != "text/plain; charset=utf-8" || a.body != "ok\n")
                FuzzHarness::fail("a 200 of no kind the endpoint gives");
            break;
        default:
            FuzzHarness::fail("an answer with a code the endpoint does not give", a.status);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzHarness::ensureApplication();
    static QTemporaryDir dir(FuzzHarness::scratchFolderTemplate());
    static HttpRequestRig rig(dir.path());
    const HttpRequestRig::Exchange x = rig.run(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    check(x, x.etag);
    return 0;
}
