#include "tavctl/subcommands.h"

#include <array>

namespace {

constexpr std::array kSubcommands = {
    Subcommand{"list", "list [--host H] [--port P] [--timeout MS] [--json]", runList},
    Subcommand{"operator",
               "operator [--host H] [--port P] [--timeout MS] [--codes-file F] [--yes] COMMAND ...",
               runOperator},
    // Further subcommands are added here.
};

} // namespace

std::span<const Subcommand> subcommands() { return kSubcommands; }

QString helpText() {
    QString text = QStringLiteral("Usage:\n");
    for (const Subcommand& s : subcommands())
        text += QStringLiteral("  tavctl %1\n").arg(QLatin1String(s.usage));
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
        "\n"
        "Options:\n"
        "  --host H          registry host (default 127.0.0.1)\n"
        "  --port P          registry port (default 5679)\n"
        "  --timeout MS      time-out for connecting and for each answer (default 5000)\n"
        "  --codes-file F    file with the two operator access codes, as FIRST:SECOND\n"
        "                    on one line or one code per line\n"
        "  --yes             do not ask before delete-all-accounts\n"
        "\n"
        "The access codes are never taken from the command line: without --codes-file\n"
        "they come from the environment variable TAVCTL_CODES=FIRST:SECOND.\n"
        "\n"
        "Exit codes: 0 done; 1 refused by the registry (access codes, version, server\n"
        "not online); 2 bad arguments or no access codes; 3 cannot connect or the\n"
        "registry closed the connection; 4 time-out; 5 unexpected answer; 6 not confirmed.\n");
    return text;
}
