#pragma once

#include <QStringList>
#include <span>

// One word after "tavctl": its name, a line for the help text, and the function
// that runs it with the remaining arguments and returns the exit code.
struct Subcommand {
    const char* name;
    const char* usage;
    int (*run)(const QStringList& args);
};

int runList(const QStringList& args);
int runOperator(const QStringList& args);
int runAdmin(const QStringList& args);

// Every subcommand, in the order the help text shows them. New ones join here.
std::span<const Subcommand> subcommands();

QString helpText();
QString versionText(); // "tavctl", the version, a newline
