#pragma once

#include "app/configuration.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

// The process contract of tavregistry.
struct CommandLine {
    enum class Bus { Default, Session, System, None };
    enum class Outcome { Run, ShowHelp, ShowVersion, Error };

    Outcome outcome = Outcome::Run;
    QString errorText;  // with Outcome::Error
    QString dataDir;    // empty: the folder of the executable
    quint16 port = 5679;
    QHostAddress listenAddress = QHostAddress(QHostAddress::AnyIPv4);
    bool headless = false;
    Bus bus = Bus::Default;
    QString configFile;                       // --config; empty: the default file
    QString copyToDatabase;                   // --copy-to-database: copy qbrx.dat there, then exit
    QList<Configuration::Override> overrides; // --SECTION-KEY VALUE, in order

    static CommandLine parse(const QStringList& arguments);
    // The texts name the program (tavregistry or tavregistryd).
    static QString helpText(const QString& program);
    static QString versionText(const QString& program);
};
