#pragma once

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

    static CommandLine parse(const QStringList& arguments);
    static QString helpText();
    static QString versionText();
};
