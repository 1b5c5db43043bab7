#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <span>

// One option a subcommand takes: its name and whether a value follows it
// ("--port 5679" or "--port=5679").
struct OptionRule {
    const char* name;
    bool takesValue;
};

// The arguments of one subcommand. "--" ends the options: every word after it
// is a word, even one that begins with "--".
struct ParsedArgs {
    QHash<QString, QString> values; // options with a value; the last one given wins
    QSet<QString> flags;            // options without a value that were given
    QStringList positional;
    bool help = false;  // --help or -h where an option may stand
    bool json = false;  // --json was asked for (known even when `error` is set)
    QString error;      // non-empty: the arguments were not understood

    QString value(const char* name, const QString& fallback = {}) const {
        return values.value(QLatin1String(name), fallback);
    }
    bool has(const char* name) const { return flags.contains(QLatin1String(name)); }
};

ParsedArgs parseArgs(const QStringList& args, std::span<const OptionRule> rules);

// The options every network subcommand shares, and the words left over.
struct Options {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 5679;
    int timeoutMs = 5000;
    bool json = false;
    bool yes = false;
    bool help = false;
    QString codesFile;
    QStringList positional;
    QString error; // non-empty: the arguments were not understood
};

// `allowed` names the options this subcommand takes beyond --host, --port, --timeout.
Options parseOptions(const QStringList& args, const QStringList& allowed);
