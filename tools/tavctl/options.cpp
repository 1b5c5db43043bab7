#include "tavctl/options.h"

#include <array>

namespace {

bool isHelp(const QString& arg) { return arg == QLatin1String("--help") || arg == QLatin1String("-h"); }

const OptionRule* find(std::span<const OptionRule> rules, const QString& name) {
    for (const OptionRule& s : rules)
        if (name == QLatin1String(s.name))
            return &s;
    return nullptr;
}

// --json decides how errors are written, so it counts even when a later
// argument is not understood.
bool asksForJson(const QStringList& args, std::span<const OptionRule> rules) {
    if (!find(rules, QStringLiteral("--json")))
        return false;
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            return false;
        if (arg == QLatin1String("--json"))
            return true;
    }
    return false;
}

// Every option a network subcommand may take.
constexpr std::array kNetworkOptions = {
    OptionRule{"--host", true},      OptionRule{"--port", true}, OptionRule{"--timeout", true},
    OptionRule{"--codes-file", true}, OptionRule{"--json", false}, OptionRule{"--yes", false},
};
constexpr qsizetype kCommonNetworkOptions = 3; // --host, --port, --timeout

} // namespace

ParsedArgs parseArgs(const QStringList& args, std::span<const OptionRule> rules) {
    ParsedArgs p;
    p.json = asksForJson(args, rules);
    bool onlyWords = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!onlyWords && arg == QLatin1String("--")) {
            onlyWords = true;
            continue;
        }
        if (!onlyWords && isHelp(arg)) {
            p.help = true;
            continue;
        }
        if (onlyWords || !arg.startsWith(QLatin1String("--"))) {
            p.positional.append(arg);
            continue;
        }
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq > 0 ? arg.left(eq) : arg;
        const OptionRule* rule = find(rules, name);
        if (!rule) {
            p.error = QStringLiteral("unknown option %1").arg(name);
            return p;
        }
        if (!rule->takesValue) {
            if (eq > 0) {
                p.error = QStringLiteral("option %1 takes no value").arg(name);
                return p;
            }
            p.flags.insert(name);
            continue;
        }
        if (eq > 0) {
            p.values.insert(name, arg.mid(eq + 1));
        } else if (i + 1 < args.size()) {
            p.values.insert(name, args.at(++i));
        } else {
            p.error = QStringLiteral("option %1 needs a value").arg(name);
            return p;
        }
    }
    return p;
}

Options parseOptions(const QStringList& args, const QStringList& allowed) {
    QList<OptionRule> rules;
    for (qsizetype i = 0; i < qsizetype(kNetworkOptions.size()); ++i)
        if (i < kCommonNetworkOptions || allowed.contains(QLatin1String(kNetworkOptions[i].name)))
            rules.append(kNetworkOptions[i]);
    const ParsedArgs p = parseArgs(args, rules);
    Options o;
    o.json = p.json;
    o.help = p.help;
    o.error = p.error;
    o.positional = p.positional;
    o.yes = p.has("--yes");
    if (!o.error.isEmpty())
        return o;
    auto bad = [&o](const char* name, const QString& value) {
        o.error = QStringLiteral("bad value '%1' for %2").arg(value, QLatin1String(name));
    };
    if (p.values.contains(QStringLiteral("--host"))) {
        o.host = p.value("--host");
        if (o.host.isEmpty())
            bad("--host", o.host);
    }
    if (p.values.contains(QStringLiteral("--port"))) {
        bool ok = false;
        const uint port = p.value("--port").toUInt(&ok);
        if (!ok || port < 1 || port > 65535)
            bad("--port", p.value("--port"));
        o.port = quint16(port);
    }
    if (p.values.contains(QStringLiteral("--timeout"))) {
        bool ok = false;
        o.timeoutMs = p.value("--timeout").toInt(&ok);
        if (!ok || o.timeoutMs <= 0)
            bad("--timeout", p.value("--timeout"));
    }
    if (p.values.contains(QStringLiteral("--codes-file"))) {
        o.codesFile = p.value("--codes-file");
        if (o.codesFile.isEmpty())
            bad("--codes-file", o.codesFile);
    }
    return o;
}
