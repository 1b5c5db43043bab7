#include "tavctl/console.h"
#include "tavctl/exit_codes.h"
#include "tavctl/subcommands.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    // Errors before a subcommand has read its options follow a --json anywhere.
    Console::setJsonErrors(args.mid(0, args.indexOf(QStringLiteral("--"))).contains(QStringLiteral("--json")));
    if (args.isEmpty())
        return Console::fail(ExitCode::Usage, QStringLiteral("missing subcommand (see tavctl --help)"));
    const QString word = args.takeFirst();
    if (word == QLatin1String("--help") || word == QLatin1String("-h") || word == QLatin1String("help")) {
        Console::out(helpText());
        return ExitCode::Ok;
    }
    if (word == QLatin1String("--version")) {
        Console::out(versionText());
        return ExitCode::Ok;
    }
    for (const Subcommand& s : subcommands())
        if (word == QLatin1String(s.name))
            return s.run(args);
    if (word.startsWith(QLatin1Char('-')))
        return Console::fail(ExitCode::Usage, QStringLiteral("unknown option %1 (see tavctl --help)").arg(word));
    return Console::fail(ExitCode::Usage, QStringLiteral("unknown subcommand '%1' (see tavctl --help)").arg(word));
}
