#include "client/blocking_client.h"
#include "client/messages.h"
#include "client/replies.h"
#include "client/wire_text.h"
#include "tavctl/access_codes.h"
#include "tavctl/console.h"
#include "tavctl/exit_codes.h"
#include "tavctl/options.h"
#include "tavctl/subcommands.h"
#include "tavctl/terminal_text.h"

#include <QDeadlineTimer>

namespace {

using namespace TavClient;

// How long to stay on the line after a command that gets no answer, so that a
// registry which drops the session for it is noticed.
constexpr int kSettleMs = 300;

struct Command {
    const char* name;
    int minWords; // after the command's name
    int maxWords; // -1: the rest is one text
    QByteArray (*build)(const QList<QByteArray>& words);
    const char* done;
};

QByteArray joined(const QList<QByteArray>& words, int from) {
    QByteArray text;
    for (int i = from; i < words.size(); ++i) {
        if (i > from)
            text.append(' ');
        text.append(words.at(i));
    }
    return text;
}

const Command kCommands[] = {
    {"disconnect", 1, 1, [](const QList<QByteArray>& w) { return Messages::disconnectServer(w.at(0)); }, nullptr},
    {"message", 2, -1, [](const QList<QByteArray>& w) { return Messages::messageServer(w.at(0), joined(w, 1)); },
     "message sent"},
    {"broadcast", 1, -1, [](const QList<QByteArray>& w) { return Messages::broadcast(joined(w, 0)); },
     "message sent to every server"},
    {"add-god", 2, 2, [](const QList<QByteArray>& w) { return Messages::addGod(w.at(0), w.at(1)); },
     "Add God sent"},
    {"official", 1, 1, [](const QList<QByteArray>& w) { return Messages::markOfficial(w.at(0)); },
     "marked official for this session"},
    {"unofficial", 1, 1, [](const QList<QByteArray>& w) { return Messages::markUnofficial(w.at(0)); },
     "marked unofficial for this session"},
    {"allow-new", 0, 0, [](const QList<QByteArray>&) { return Messages::allowNewAccounts(); },
     "new accounts are allowed"},
    {"deny-new", 0, 0, [](const QList<QByteArray>&) { return Messages::denyNewAccounts(); },
     "new accounts are refused"},
    {"clear-official", 0, 0, [](const QList<QByteArray>&) { return Messages::clearOfficial(); },
     "official mark cleared on every account"},
    {"delete-all-accounts", 0, 0, [](const QList<QByteArray>&) { return Messages::deleteAllAccounts(); },
     "every account deleted"},
    {"watch", 0, 0, nullptr, nullptr},
};

const Command* findCommand(const QString& name) {
    for (const Command& c : kCommands)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

int clientFailure(const BlockingClient& client) {
    return Console::fail(ExitCode::forClientError(client.error()), client.errorText());
}

QString shown(const QByteArray& wire) { return TerminalText::visible(WireText::toUnicode(wire)); }

bool sameServer(const QByteArray& a, const QByteArray& b) { return a.toUpper() == b.toUpper(); }

// Waits for the registry's offline notice of the named server.
int awaitDisconnect(BlockingClient& client, const QByteArray& server) {
    for (;;) {
        const std::optional<Frame> frame = client.readFrame();
        if (!frame) {
            if (client.error() == BlockingClient::Error::Timeout)
                return Console::fail(ExitCode::Refused,
                                     QStringLiteral("no server %1 went offline: it is probably not online")
                                         .arg(WireText::toUnicode(server)));
            return clientFailure(client);
        }
        const std::optional<QByteArray> offline = Replies::offlineNotice(*frame);
        if (offline && sameServer(*offline, server)) {
            Console::out(QStringLiteral("disconnected: %1\n").arg(shown(*offline)));
            return ExitCode::Ok;
        }
    }
}

int watch(BlockingClient& client) {
    for (;;) {
        const std::optional<Frame> frame = client.readFrame(0);
        if (!frame)
            return clientFailure(client);
        if (const std::optional<QByteArray> offline = Replies::offlineNotice(*frame))
            Console::out(QStringLiteral("offline: %1\n").arg(shown(*offline)));
        else if (frame->type == Replies::kText)
            Console::out(QStringLiteral("message: %1\n").arg(shown(frame->payload)));
    }
}

// A command without an answer: success unless the registry reacts at once.
int settle(BlockingClient& client, const char* done) {
    const QDeadlineTimer deadline(kSettleMs);
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            break;
        const std::optional<Frame> frame = client.readFrame(int(left));
        if (!frame) {
            if (client.error() == BlockingClient::Error::Timeout)
                break;
            if (client.error() == BlockingClient::Error::Closed)
                return Console::fail(ExitCode::Connection,
                                     QStringLiteral("the registry closed the connection after the command"));
            return clientFailure(client);
        }
        if (frame->type == Replies::kText)
            return Console::fail(ExitCode::Refused,
                                 QStringLiteral("the registry refused: %1").arg(WireText::toUnicode(frame->payload)));
    }
    Console::out(QStringLiteral("%1\n").arg(QLatin1String(done)));
    return ExitCode::Ok;
}

bool confirmDeleteAll(const Options& o) {
    if (o.yes)
        return true;
    Console::out(QStringLiteral("Delete every server account of the registry at %1:%2? Type yes to confirm: ")
                     .arg(o.host)
                     .arg(o.port));
    return Console::readLine().compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

} // namespace

int runOperator(const QStringList& args) {
    const Options o = parseOptions(args, {QStringLiteral("--codes-file"), QStringLiteral("--yes")});
    Console::setJsonErrors(false);
    if (!o.error.isEmpty())
        return Console::fail(ExitCode::Usage, o.error);
    if (o.help) {
        Console::out(helpText());
        return ExitCode::Ok;
    }
    if (o.positional.isEmpty())
        return Console::fail(ExitCode::Usage, QStringLiteral("operator needs a command (see tavctl --help)"));
    const Command* command = findCommand(o.positional.first());
    if (!command)
        return Console::fail(ExitCode::Usage,
                             QStringLiteral("unknown operator command '%1' (see tavctl --help)").arg(o.positional.first()));
    QList<QByteArray> words;
    for (qsizetype i = 1; i < o.positional.size(); ++i)
        words.append(WireText::fromUnicode(o.positional.at(i)));
    if (words.size() < command->minWords || (command->maxWords >= 0 && words.size() > command->maxWords))
        return Console::fail(ExitCode::Usage, QStringLiteral("wrong number of words for '%1' (see tavctl --help)")
                                                  .arg(QLatin1String(command->name)));
    for (const QByteArray& w : words)
        if (w.isEmpty() || w.contains('\0'))
            return Console::fail(ExitCode::Usage, QStringLiteral("empty words and NUL characters cannot be sent"));
    QByteArray message;
    if (command->build) {
        message = command->build(words);
        if (message.size() - 2 > kMaxPeerMessageLength)
            return Console::fail(ExitCode::Usage,
                                 QStringLiteral("the message is too long: the registry takes at most %1 bytes per message")
                                     .arg(kMaxPeerMessageLength));
    }
    const AccessCodes codes = loadAccessCodes(o.codesFile);
    if (!codes.error.isEmpty())
        return Console::fail(ExitCode::Usage, codes.error);
    if (qstrcmp(command->name, "delete-all-accounts") == 0 && !confirmDeleteAll(o))
        return Console::fail(ExitCode::Cancelled, QStringLiteral("not confirmed; nothing was deleted"));

    BlockingClient client(o.timeoutMs);
    if (!client.connectTo(o.host, o.port))
        return clientFailure(client);
    if (!client.send(Messages::operatorLogin(codes.first, codes.second)))
        return clientFailure(client);
    const std::optional<Frame> answer = client.readFrame();
    if (!answer) {
        if (client.error() == BlockingClient::Error::Closed)
            return Console::fail(ExitCode::Refused, QStringLiteral("operator login refused: the registry closed the "
                                                                   "connection (wrong access codes?)"));
        return clientFailure(client);
    }
    if (!Replies::isOperatorAccepted(*answer)) {
        if (Replies::parseLoginReply(*answer).result == Replies::LoginResult::RegistryFull)
            return Console::fail(ExitCode::Refused, QStringLiteral("the registry is full"));
        return Console::fail(ExitCode::Protocol,
                             QStringLiteral("unexpected answer to the operator login (type %1)").arg(answer->type));
    }
    if (!command->build)
        return watch(client);
    if (!client.send(message))
        return clientFailure(client);
    const int code = command->done ? settle(client, command->done) : awaitDisconnect(client, words.at(0));
    client.close();
    return code;
}
