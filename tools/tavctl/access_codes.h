#pragma once

#include <QByteArray>
#include <QString>

// The two operator access codes. They never come from the command line, where
// every local user could read them.
struct AccessCodes {
    QByteArray first;
    QByteArray second;
    QString error; // non-empty: no usable codes
};

// From `codesFile` when given, otherwise from the environment variable
// TAVCTL_CODES. Either holds "FIRST:SECOND", or (a file only) the two codes on
// their own lines.
AccessCodes loadAccessCodes(const QString& codesFile);
