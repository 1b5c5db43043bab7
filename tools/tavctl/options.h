#pragma once

#include <QString>
#include <QStringList>

// The options every network subcommand shares, and the words left over.
struct Options {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 5679;
    int timeoutMs = 5000;
    bool json = false;
    bool yes = false;
    QString codesFile;
    QStringList positional;
    QString error; // non-empty: the arguments were not understood
};

// `allowed` names the options this subcommand takes beyond --host, --port, --timeout.
Options parseOptions(const QStringList& args, const QStringList& allowed);
