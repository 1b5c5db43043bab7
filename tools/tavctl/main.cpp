#include "tavctl/console.h"
#include "tavctl/exit_codes.h"
#include "tavctl/subcommands.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        Console::err(QStringLiteral("missing subcommand (see tavctl --help)"));
        return ExitCode::Usage;
    }
    const QString word = args.takeFirst();
    if (word == QLatin1String("--help") || word == QLatin1String("-h") || word == QLatin1String("help")) {
        Console::out(helpText());
        return ExitCode::Ok;
    }
    for (const Subcommand& s : subcommands())
        if (word == QLatin1String(s.name))
            return s.run(args);
    Console::err(QStringLiteral("unknown subcommand '%1' (see tavctl --help)").arg(word));
    return ExitCode::Usage;
}
