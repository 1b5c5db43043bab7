#include "tavctl/subcommands.h"

#include "platform/build_version.h"

#include <array>

namespace {

constexpr std::array kSubcommands = {
    Subcommand{"list", "list [--host H] [--port P] [--timeout MS] [--json]", runList},
    Subcommand{"operator",
               "operator [--host H] [--port P] [--timeout MS] [--codes-file F] [--yes] COMMAND ...",
               runOperator},
    Subcommand{"admin", "admin [--bus session|system] [--json] OPERATION ...", runAdmin},
    // Further subcommands are added here.
};

} // namespace

std::span<const Subcommand> subcommands() { return kSubcommands; }

QString versionText() { return QStringLiteral("tavctl %1\n").arg(QLatin1String(BuildVersion::kText)); }

QString helpText() {
    QString text = QStringLiteral("Usage:\n");
    for (const Subcommand& s : subcommands())
        text += QStringLiteral("  tavctl %1\n").arg(QLatin1String(s.usage));
    text += QStringLiteral("  tavctl --help | --version\n");
    text += QStringLiteral(
        "\n"
        "Talks to a running Tarvane Classic Server Registry over its TCP port.\n"
        "\n"
        "list       asks for every page of the list of online servers, as a game\n"
        "           client does, and prints it as a table (or JSON with --json):\n"
        "           slot order as received, user name, address, players, name,\n"
        "           official, description, update URL.\n"
        "operator   logs in as an operator and sends one command:\n"
        "  disconnect SERVER          disconnect a server (waits for its offline notice)\n"
        "  message SERVER TEXT...     send a text message to one server\n"
        "  broadcast TEXT...          send a text message to every server\n"
        "  add-god SERVER PLAYER      send the Add God command for PLAYER to SERVER\n"
        "  official SERVER            mark a server official until it reconnects\n"
        "  unofficial SERVER          mark a server unofficial until it reconnects\n"
        "  allow-new                  allow new server accounts to register\n"
        "  deny-new                   refuse new server accounts\n"
        "  clear-official             clear the official mark of every account\n"
        "  delete-all-accounts        delete every server account (asks first unless --yes)\n"
        "  watch                      print a line \"offline: NAME\" for every server that\n"
        "                             disconnects, until interrupted\n"
        "  The registry answers none of these commands except disconnect (with the\n"
        "  server's offline notice). A command naming a server that is not online does\n"
        "  nothing there, and tavctl cannot tell: it still reports the command as sent\n"
        "  and exits with 0.\n"
        "admin      drives the running registry through its automation interface on\n"
        "           D-Bus (name HostLedger.clsControl; --bus session is the default,\n"
        "           --bus system reaches a registry run as a service):\n"
        "  operations                      list the operations with their descriptions\n"
        "  send-message SLOT TEXT          send a text message to the server in SLOT\n"
        "  send-message-all TEXT           send a text message to every server (logged)\n"
        "  boot SLOT                       disconnect the server in SLOT\n"
        "  shutdown [REASON]               shut the registry down\n"
        "  server-info SLOT                show the server in SLOT\n"
        "  find-server USER                print the slot of an online server (0: offline)\n"
        "  account USER | accounts         show one account | list every account name\n"
        "  add-account USER PASSWORD [--name N] [--description D] [--update-url U] [--official N]\n"
        "  edit-account USER PASSWORD [same options]\n"
        "  delete-account USER             (exits with 1, \"no such account\", when there is none)\n"
        "  ban NAME | bans                 show one ban | list every ban name\n"
        "  add-ban NAME ADDRESS [--unban-date YYYY-MM-DD] [--reason R]\n"
        "  edit-ban NAME ADDRESS [same options]\n"
        "  delete-ban NAME                 (exits with 1, \"no such ban\", when there is none)\n"
        "  check-address IP                what a caller from IP would meet now: admitted,\n"
        "                                  banned, at its connection limit, locked out,\n"
        "                                  registrations refused, operator logins not allowed\n"
        "  SLOT is a number from 1 to 256. A refusal prints the registry's reason on\n"
        "  standard error and exits with 1.\n"
        "\n"
        "Options:\n"
        "  --host H          registry host (default 127.0.0.1)\n"
        "  --port P          registry port (default 5679)\n"
        "  --timeout MS      time-out for connecting and for each answer (default 5000)\n"
        "  --codes-file F    file with the two operator access codes, as FIRST:SECOND\n"
        "                    on one line or one code per line\n"
        "  --yes             do not ask before delete-all-accounts\n"
        "  --json            (list, admin) results as JSON on standard output, and\n"
        "                    errors as one line {\"error\": TEXT} on standard error\n"
        "  --help, -h        this text (also after a subcommand)\n"
        "  --version         the version of tavctl\n"
        "  --                ends the options: every later word is a word, even one\n"
        "                    beginning with \"--\" (tavctl operator broadcast -- --now)\n"
        "\n"
        "Texts from the registry are printed with their control characters as \"?\";\n"
        "JSON output keeps them, escaped.\n"
        "\n"
        "The access codes are never taken from the command line: without --codes-file\n"
        "they come from the environment variable TAVCTL_CODES=FIRST:SECOND.\n"
        "\n"
        "Exit codes: 0 done; 1 refused (access codes, version, a server that did not go\n"
        "offline, no such account or ban, a failure the automation interface reports);\n"
        "2 bad arguments or no access codes; 3 cannot connect or the registry closed the\n"
        "connection; 4 time-out; 5 an answer that is not the registry's protocol (such as\n"
        "an HTTP server's, or a message cut off by a close); 6 not confirmed.\n");
    return text;
}
