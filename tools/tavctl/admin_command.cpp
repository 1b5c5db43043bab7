// tavctl admin: the registry's automation interface on D-Bus, one operation
// per subcommand.
#include "client/wire_text.h"
#include "protocol/framing.h"
#include "tavctl/console.h"
#include "tavctl/exit_codes.h"
#include "tavctl/options.h"
#include "tavctl/subcommands.h"
#include "tavctl/terminal_text.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace {

const QString kService = QStringLiteral("HostLedger.clsControl");
const QString kPath = QStringLiteral("/clsControl");
const QString kInterface = QStringLiteral("HostLedger._clsControl");

struct AdminArgs {
    QString bus = QStringLiteral("session");
    bool json = false;
    QString command;
    QStringList positional;
    QHash<QString, QString> named; // --name value
    bool help = false;
    QString error;
};

const OptionRule kOptions[] = {
    {"--bus", true},        {"--json", false},      {"--name", true},       {"--description", true},
    {"--update-url", true}, {"--official", true},   {"--unban-date", true}, {"--reason", true},
};

AdminArgs parse(const QStringList& args) {
    const ParsedArgs p = parseArgs(args, kOptions);
    AdminArgs a;
    a.json = p.json;
    a.help = p.help;
    a.error = p.error;
    if (!a.error.isEmpty() || a.help)
        return a;
    a.named = p.values;
    if (a.named.contains(QStringLiteral("--bus"))) {
        const QString bus = a.named.take(QStringLiteral("--bus"));
        if (bus != QLatin1String("session") && bus != QLatin1String("system")) {
            a.error = QStringLiteral("--bus takes session or system, not '%1'").arg(bus);
            return a;
        }
        a.bus = bus;
    }
    a.positional = p.positional;
    if (a.positional.isEmpty())
        a.error = QStringLiteral("admin needs an operation (see tavctl --help)");
    else
        a.command = a.positional.takeFirst();
    return a;
}

class Bus {
public:
    explicit Bus(const QString& which)
        : m_connection(which == QLatin1String("system") ? QDBusConnection::systemBus()
                                                        : QDBusConnection::sessionBus()) {}

    // Calls a method; on a transport or call error prints it and returns false.
    bool call(const QString& member, const QVariantList& args, QVariantList* out, int* exitCode) {
        if (!m_connection.isConnected()) {
            *exitCode = Console::fail(ExitCode::Connection, QStringLiteral("cannot reach the D-Bus bus: %1")
                                                                .arg(m_connection.lastError().message()));
            return false;
        }
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, member);
        m.setArguments(args);
        const QDBusMessage reply = m_connection.call(m, QDBus::Block, 10000);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const bool absent = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                                reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply");
            *exitCode = Console::fail(absent ? ExitCode::Connection : ExitCode::Refused,
                                      absent ? QStringLiteral("no registry answers on this bus (%1)")
                                                   .arg(reply.errorMessage())
                                             : reply.errorMessage());
            return false;
        }
        *out = reply.arguments();
        return true;
    }

private:
    QDBusConnection m_connection;
};

// The ErrDesc line of a failure report, or empty when ErrData came back as sent.
QString failureOf(const QString& errData) {
    if (errData.isEmpty())
        return QString();
    for (const QString& line : errData.split(QStringLiteral("\r\n")))
        if (line.startsWith(QLatin1String("ErrDesc=")))
            return line.mid(8);
    return errData;
}

// A slot number as the registry's table knows them; empty with the complaint
// written to *error otherwise.
std::optional<int> slotArg(const QString& text, QString* error) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok) {
        *error = QStringLiteral("SLOT must be a number, not '%1'").arg(text);
        return std::nullopt;
    }
    if (v < 1 || v > 256) {
        *error = QStringLiteral("SLOT must be between 1 and 256");
        return std::nullopt;
    }
    return int(v);
}

// Every text in the plain output came from the registry or its database.
using TerminalText::visible;

void printResult(const AdminArgs& a, const QJsonObject& json, const QString& text) {
    if (a.json)
        Console::out(TerminalText::json(QJsonDocument(json)));
    else if (!text.isEmpty())
        Console::out(text);
}

int usage(const QString& text) { return Console::fail(ExitCode::Usage, text); }

// The registry refuses a message text one frame cannot carry; say so before asking it.
bool fitsOneMessage(const QString& text) {
    return Framing::fitsOneFrame(TavClient::WireText::fromUnicode(text));
}

int tooLong() {
    return Console::fail(ExitCode::Refused,
                         QStringLiteral("the message is too long: a message to a server holds at most %1 characters")
                             .arg(Framing::kMaxSendPayloadLength));
}

} // namespace

int runAdmin(const QStringList& args) {
    const AdminArgs a = parse(args);
    Console::setJsonErrors(a.json);
    if (!a.error.isEmpty())
        return usage(a.error);
    if (a.help) {
        Console::out(helpText());
        return ExitCode::Ok;
    }
    Bus bus(a.bus);
    const QStringList& p = a.positional;
    const QString& cmd = a.command;
    QVariantList out;
    int rc = ExitCode::Ok;
    auto need = [&](int count, const char* names) {
        if (p.size() != count) {
            rc = usage(QStringLiteral("usage: tavctl admin %1 %2").arg(cmd, QLatin1String(names)));
            return false;
        }
        return true;
    };
    // Runs a call whose last out argument is ErrData; false (with rc set) on any failure.
    auto run = [&](const QString& member, const QVariantList& in) {
        if (!bus.call(member, in, &out, &rc))
            return false;
        const QString failure = failureOf(out.isEmpty() ? QString() : out.last().toString());
        if (!failure.isEmpty()) {
            rc = Console::fail(ExitCode::Refused, failure);
            return false;
        }
        return true;
    };
    // The interface keeps silent about a name missing from an empty table;
    // the tool asks the table itself first.
    auto exists = [&](const QString& listMember, const QString& name, const char* missing) {
        QVariantList names;
        if (!bus.call(listMember, {}, &names, &rc))
            return false;
        for (const QString& n : names.value(0).toStringList())
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        rc = Console::fail(ExitCode::Refused, QLatin1String(missing));
        return false;
    };
    bool ok = true;
    QString slotError;

    if (cmd == QLatin1String("operations")) {
        if (!need(0, "") || !bus.call(QStringLiteral("OptionCount"), {}, &out, &rc))
            return rc;
        const int count = out.value(0).toInt();
        QJsonArray list;
        QString text;
        for (int i = 1; i <= count; ++i) {
            QVariantList t;
            if (!bus.call(QStringLiteral("OptionText"), {QVariant::fromValue<short>(short(i))}, &t, &rc))
                return rc;
            list.append(t.value(0).toString());
            text += QStringLiteral("%1. %2\n").arg(i).arg(visible(t.value(0).toString()));
        }
        printResult(a, QJsonObject{{"operations", list}}, text);
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("send-message")) {
        if (!need(2, "SLOT TEXT"))
            return rc;
        const std::optional<int> slot = slotArg(p[0], &slotError);
        if (!slot)
            return usage(slotError);
        const QVariant index = QVariant::fromValue<short>(short(*slot));
        if (!fitsOneMessage(p[1]))
            return tooLong();
        return run(QStringLiteral("SendMessage"), {p[1], index, QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("send-message-all")) {
        if (!need(1, "TEXT"))
            return rc;
        if (!fitsOneMessage(p[0]))
            return tooLong();
        return run(QStringLiteral("SendMessageToAll"), {p[0], QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("boot")) {
        if (!need(1, "SLOT"))
            return rc;
        const std::optional<int> slot = slotArg(p[0], &slotError);
        if (!slot)
            return usage(slotError);
        return run(QStringLiteral("BootServer"), {QVariant::fromValue<short>(short(*slot)), QString()}) ? ExitCode::Ok
                                                                                                        : rc;
    }
    if (cmd == QLatin1String("shutdown")) {
        if (p.size() > 1)
            return usage(QStringLiteral("usage: tavctl admin shutdown [REASON]"));
        return run(QStringLiteral("ShutdownServer"), {p.value(0), QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("server-info")) {
        if (!need(1, "SLOT"))
            return rc;
        const std::optional<int> slot = slotArg(p[0], &slotError);
        if (!slot)
            return usage(slotError);
        if (!run(QStringLiteral("GetServerInfo"), {*slot, QString()}))
            return rc;
        const QJsonObject o{{"user", out[0].toString()},     {"name", out[1].toString()},
                            {"address", out[2].toString()},  {"players", out[3].toInt()},
                            {"official", out[4].toInt()}};
        printResult(a, o,
                    QStringLiteral("User: %1\nName: %2\nAddress: %3\nPlayers: %4\nOfficial: %5\n")
                        .arg(visible(out[0].toString()), visible(out[1].toString()), visible(out[2].toString()))
                        .arg(out[3].toInt())
                        .arg(out[4].toInt()));
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("find-server")) {
        if (!need(1, "USER") || !bus.call(QStringLiteral("FindServer"), {p[0]}, &out, &rc))
            return rc;
        const int slot = out.value(0).toInt();
        printResult(a, QJsonObject{{"slot", slot}}, QString::number(slot) + QLatin1Char('\n'));
        return slot == 0 ? ExitCode::Refused : ExitCode::Ok;
    }
    if (cmd == QLatin1String("account")) {
        if (!need(1, "USER") || !run(QStringLiteral("GetAccountData"), {p[0], QString()}))
            return rc;
        const QJsonObject o{{"user", p[0]},
                            {"password", out[0].toString()},
                            {"name", out[1].toString()},
                            {"description", out[2].toString()},
                            {"updateUrl", out[3].toString()},
                            {"official", int(out[4].value<uchar>())}};
        printResult(a, o,
                    QStringLiteral("User: %1\nPassword: %2\nName: %3\nDescription: %4\nUpdate URL: %5\nOfficial: %6\n")
                        .arg(visible(p[0]), visible(out[0].toString()), visible(out[1].toString()),
                             visible(out[2].toString()), visible(out[3].toString()))
                        .arg(int(out[4].value<uchar>())));
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("ban")) {
        if (!need(1, "NAME") || !exists(QStringLiteral("ListBans"), p[0], "no such ban") ||
            !run(QStringLiteral("GetBanData"), {p[0], QString()}))
            return rc;
        const QJsonObject o{{"name", p[0]},
                            {"address", out[0].toString()},
                            {"unbanDate", out[1].toString()},
                            {"reason", out[2].toString()}};
        printResult(a, o,
                    QStringLiteral("Name: %1\nAddress: %2\nUnban date: %3\nReason: %4\n")
                        .arg(visible(p[0]), visible(out[0].toString()), visible(out[1].toString()),
                             visible(out[2].toString())));
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("accounts") || cmd == QLatin1String("bans")) {
        if (!need(0, "") ||
            !bus.call(cmd == QLatin1String("accounts") ? QStringLiteral("ListAccounts") : QStringLiteral("ListBans"),
                      {}, &out, &rc))
            return rc;
        const QStringList names = out.value(0).toStringList();
        QString text;
        for (const QString& name : names)
            text += visible(name) + QLatin1Char('\n');
        printResult(a, QJsonObject{{cmd, QJsonArray::fromStringList(names)}}, text);
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("check-address")) {
        if (!need(1, "IP") || !bus.call(QStringLiteral("CheckAddress"), {p[0]}, &out, &rc))
            return rc;
        const QString verdict = out.value(0).toString();
        printResult(a, QJsonObject{{"address", p[0]}, {"verdict", verdict}}, visible(verdict) + QLatin1Char('\n'));
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("add-account") || cmd == QLatin1String("edit-account")) {
        if (!need(2, "USER PASSWORD [--name N] [--description D] [--update-url U] [--official 0-255]"))
            return rc;
        const int official = a.named.value(QStringLiteral("--official"), QStringLiteral("0")).toInt(&ok);
        if (!ok || official < 0 || official > 255)
            return usage(QStringLiteral("--official takes a number from 0 to 255"));
        const QVariantList in = {p[0],
                                 p[1],
                                 a.named.value(QStringLiteral("--name")),
                                 a.named.value(QStringLiteral("--description")),
                                 a.named.value(QStringLiteral("--update-url")),
                                 QVariant::fromValue<uchar>(uchar(official)),
                                 QString()};
        return run(cmd == QLatin1String("add-account") ? QStringLiteral("CreateAccount")
                                                       : QStringLiteral("EditAccount"),
                   in)
                   ? ExitCode::Ok
                   : rc;
    }
    if (cmd == QLatin1String("add-ban") || cmd == QLatin1String("edit-ban")) {
        if (!need(2, "NAME ADDRESS [--unban-date YYYY-MM-DD] [--reason R]"))
            return rc;
        const QVariantList in = {p[0], p[1], a.named.value(QStringLiteral("--unban-date")),
                                 a.named.value(QStringLiteral("--reason")), QString()};
        return run(cmd == QLatin1String("add-ban") ? QStringLiteral("CreateBan") : QStringLiteral("EditBan"), in)
                   ? ExitCode::Ok
                   : rc;
    }
    if (cmd == QLatin1String("delete-account")) {
        if (!need(1, "USER") || !exists(QStringLiteral("ListAccounts"), p[0], "no such account"))
            return rc;
        return run(QStringLiteral("DeleteAccount"), {p[0], QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("delete-ban")) {
        if (!need(1, "NAME") || !exists(QStringLiteral("ListBans"), p[0], "no such ban"))
            return rc;
        return run(QStringLiteral("DeleteBan"), {p[0], QString()}) ? ExitCode::Ok : rc;
    }
    return usage(QStringLiteral("unknown admin operation '%1' (see tavctl --help)").arg(cmd));
}
