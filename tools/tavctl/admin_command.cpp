// tavctl admin: the registry's automation interface on D-Bus, one operation
// per subcommand.
#include "client/wire_text.h"
#include "protocol/framing.h"
#include "tavctl/console.h"
#include "tavctl/exit_codes.h"
#include "tavctl/subcommands.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDate>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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
    QString error;
};

const QStringList kNamedOptions = {"--name", "--description", "--update-url", "--official", "--unban-date", "--reason"};

AdminArgs parse(const QStringList& args) {
    AdminArgs a;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--json")) {
            a.json = true;
        } else if (arg == QLatin1String("--bus") || kNamedOptions.contains(arg)) {
            if (i + 1 >= args.size()) {
                a.error = QStringLiteral("%1 needs a value").arg(arg);
                return a;
            }
            const QString value = args.at(++i);
            if (arg == QLatin1String("--bus")) {
                if (value != QLatin1String("session") && value != QLatin1String("system")) {
                    a.error = QStringLiteral("--bus takes session or system, not '%1'").arg(value);
                    return a;
                }
                a.bus = value;
            } else {
                a.named.insert(arg, value);
            }
        } else if (arg.startsWith(QLatin1String("--")) && a.command.isEmpty()) {
            a.error = QStringLiteral("unknown option '%1'").arg(arg);
            return a;
        } else if (a.command.isEmpty()) {
            a.command = arg;
        } else {
            a.positional.append(arg);
        }
    }
    if (a.command.isEmpty())
        a.error = QStringLiteral("admin needs an operation (see tavctl --help)");
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
            Console::err(QStringLiteral("cannot reach the D-Bus bus: %1").arg(m_connection.lastError().message()));
            *exitCode = ExitCode::Connection;
            return false;
        }
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, member);
        m.setArguments(args);
        const QDBusMessage reply = m_connection.call(m, QDBus::Block, 10000);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            const bool absent = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                                reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply");
            Console::err(absent ? QStringLiteral("no registry answers on this bus (%1)").arg(reply.errorMessage())
                                : reply.errorMessage());
            *exitCode = absent ? ExitCode::Connection : ExitCode::Refused;
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

QVariant shortArg(const QString& text, bool* ok) {
    const int v = text.toInt(ok);
    *ok = *ok && v >= -32768 && v <= 32767;
    return QVariant::fromValue<short>(short(v));
}

void printResult(const AdminArgs& a, const QJsonObject& json, const QString& text) {
    if (a.json)
        Console::out(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented)));
    else if (!text.isEmpty())
        Console::out(text);
}

// The registry refuses a message text one frame cannot carry; say so before asking it.
bool fitsOneMessage(const QString& text) {
    if (Framing::fitsOneFrame(TavClient::WireText::fromUnicode(text)))
        return true;
    Console::err(QStringLiteral("the message is too long: a message to a server holds at most %1 characters")
                     .arg(Framing::kMaxSendPayloadLength));
    return false;
}

int usage(const QString& text) {
    Console::err(text);
    return ExitCode::Usage;
}

} // namespace

int runAdmin(const QStringList& args) {
    const AdminArgs a = parse(args);
    if (!a.error.isEmpty())
        return usage(a.error);
    Bus bus(a.bus);
    const QStringList& p = a.positional;
    const QString& cmd = a.command;
    QVariantList out;
    int rc = ExitCode::Ok;
    auto need = [&](int count, const char* names) {
        if (p.size() != count) {
            Console::err(QStringLiteral("usage: tavctl admin %1 %2").arg(cmd, QLatin1String(names)));
            rc = ExitCode::Usage;
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
            Console::err(failure);
            rc = ExitCode::Refused;
            return false;
        }
        return true;
    };
    bool ok = true;

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
            text += QStringLiteral("%1. %2\n").arg(i).arg(t.value(0).toString());
        }
        printResult(a, QJsonObject{{"operations", list}}, text);
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("send-message")) {
        if (!need(2, "SLOT TEXT"))
            return rc;
        const QVariant index = shortArg(p[0], &ok);
        if (!ok)
            return usage(QStringLiteral("SLOT must be a number, not '%1'").arg(p[0]));
        if (!fitsOneMessage(p[1]))
            return ExitCode::Refused;
        return run(QStringLiteral("SendMessage"), {p[1], index, QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("send-message-all")) {
        if (!need(1, "TEXT"))
            return rc;
        if (!fitsOneMessage(p[0]))
            return ExitCode::Refused;
        return run(QStringLiteral("SendMessageToAll"), {p[0], QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("boot")) {
        if (!need(1, "SLOT"))
            return rc;
        const QVariant index = shortArg(p[0], &ok);
        if (!ok)
            return usage(QStringLiteral("SLOT must be a number, not '%1'").arg(p[0]));
        return run(QStringLiteral("BootServer"), {index, QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("shutdown")) {
        if (p.size() > 1)
            return usage(QStringLiteral("usage: tavctl admin shutdown [REASON]"));
        return run(QStringLiteral("ShutdownServer"), {p.value(0), QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("server-info")) {
        if (!need(1, "SLOT"))
            return rc;
        const int index = p[0].toInt(&ok);
        if (!ok)
            return usage(QStringLiteral("SLOT must be a number, not '%1'").arg(p[0]));
        if (!run(QStringLiteral("GetServerInfo"), {index, QString()}))
            return rc;
        const QJsonObject o{{"user", out[0].toString()},     {"name", out[1].toString()},
                            {"address", out[2].toString()},  {"players", out[3].toInt()},
                            {"official", out[4].toInt()}};
        printResult(a, o,
                    QStringLiteral("User: %1\nName: %2\nAddress: %3\nPlayers: %4\nOfficial: %5\n")
                        .arg(out[0].toString(), out[1].toString(), out[2].toString())
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
                        .arg(p[0], out[0].toString(), out[1].toString(), out[2].toString(), out[3].toString())
                        .arg(int(out[4].value<uchar>())));
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("ban")) {
        if (!need(1, "NAME") || !run(QStringLiteral("GetBanData"), {p[0], QString()}))
            return rc;
        // An empty ban table answers without any data.
        const QJsonObject o{{"name", p[0]},
                            {"address", out[0].toString()},
                            {"unbanDate", out[1].toString()},
                            {"reason", out[2].toString()}};
        printResult(a, o,
                    QStringLiteral("Name: %1\nAddress: %2\nUnban date: %3\nReason: %4\n")
                        .arg(p[0], out[0].toString(), out[1].toString(), out[2].toString()));
        return ExitCode::Ok;
    }
    if (cmd == QLatin1String("accounts") || cmd == QLatin1String("bans")) {
        if (!need(0, "") ||
            !bus.call(cmd == QLatin1String("accounts") ? QStringLiteral("ListAccounts") : QStringLiteral("ListBans"),
                      {}, &out, &rc))
            return rc;
        const QStringList names = out.value(0).toStringList();
        printResult(a, QJsonObject{{cmd, QJsonArray::fromStringList(names)}},
                    names.isEmpty() ? QString() : names.join(QLatin1Char('\n')) + QLatin1Char('\n'));
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
        if (!need(1, "USER"))
            return rc;
        return run(QStringLiteral("DeleteAccount"), {p[0], QString()}) ? ExitCode::Ok : rc;
    }
    if (cmd == QLatin1String("delete-ban")) {
        if (!need(1, "NAME"))
            return rc;
        return run(QStringLiteral("DeleteBan"), {p[0], QString()}) ? ExitCode::Ok : rc;
    }
    return usage(QStringLiteral("unknown admin operation '%1' (see tavctl --help)").arg(cmd));
}
