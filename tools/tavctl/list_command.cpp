#include "client/server_list.h"
#include "client/wire_text.h"
#include "tavctl/console.h"
#include "tavctl/exit_codes.h"
#include "tavctl/options.h"
#include "tavctl/subcommands.h"
#include "tavctl/terminal_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using TavClient::WireText::toUnicode;
using TerminalText::visible;

QJsonDocument asJson(const QList<TavClient::Replies::ListEntry>& entries) {
    QJsonArray array;
    int order = 0;
    for (const auto& e : entries) {
        QJsonObject o;
        o.insert(QStringLiteral("order"), ++order);
        o.insert(QStringLiteral("user"), toUnicode(e.user));
        o.insert(QStringLiteral("address"), toUnicode(e.address));
        o.insert(QStringLiteral("players"), e.playerCount());
        o.insert(QStringLiteral("name"), toUnicode(e.serverName()));
        o.insert(QStringLiteral("official"), e.official());
        o.insert(QStringLiteral("description"), toUnicode(e.plainDescription()));
        o.insert(QStringLiteral("updateUrl"), toUnicode(e.updateUrl));
        array.append(o);
    }
    return QJsonDocument(array);
}

QString asTable(const QList<TavClient::Replies::ListEntry>& entries) {
    QList<QStringList> rows;
    rows.append({QStringLiteral("#"), QStringLiteral("USER"), QStringLiteral("ADDRESS"), QStringLiteral("PLAYERS"),
                 QStringLiteral("NAME"), QStringLiteral("OFFICIAL"), QStringLiteral("DESCRIPTION"),
                 QStringLiteral("UPDATE URL")});
    int order = 0;
    for (const auto& e : entries) {
        const int players = e.playerCount();
        rows.append({QString::number(++order), visible(toUnicode(e.user)), visible(toUnicode(e.address)),
                     players < 0 ? QStringLiteral("?") : QString::number(players),
                     visible(toUnicode(e.serverName())), e.official() ? QStringLiteral("yes") : QStringLiteral("no"),
                     visible(toUnicode(e.plainDescription())), visible(toUnicode(e.updateUrl))});
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row.at(c).size());
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += QStringLiteral("  ");
            line += c + 1 < row.size() ? row.at(c).leftJustified(widths[c]) : row.at(c);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

} // namespace

int runList(const QStringList& args) {
    const Options o = parseOptions(args, {QStringLiteral("--json")});
    Console::setJsonErrors(o.json);
    if (!o.error.isEmpty())
        return Console::fail(ExitCode::Usage, o.error);
    if (o.help) {
        Console::out(helpText());
        return ExitCode::Ok;
    }
    if (!o.positional.isEmpty())
        return Console::fail(ExitCode::Usage, QStringLiteral("list takes no words, got '%1'").arg(o.positional.first()));
    const TavClient::ServerListResult result = TavClient::fetchServerList(o.host, o.port, o.timeoutMs);
    if (!result.ok)
        return Console::fail(ExitCode::forClientError(result.error), result.errorText);
    if (o.json)
        Console::out(TerminalText::json(asJson(result.entries)));
    else if (result.entries.isEmpty())
        Console::out(QStringLiteral("No servers online.\n"));
    else
        Console::out(asTable(result.entries));
    return ExitCode::Ok;
}
