#include "tavctl/access_codes.h"

#include "client/wire_text.h"

#include <QFile>

namespace {

AccessCodes split(const QString& text, const QString& origin) {
    AccessCodes codes;
    QStringList parts;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList nonEmpty;
    for (const QString& line : lines)
        if (!line.trimmed().isEmpty())
            nonEmpty.append(line.trimmed());
    if (nonEmpty.size() == 1)
        parts = nonEmpty.first().split(QLatin1Char(':'));
    else
        parts = nonEmpty;
    if (parts.size() != 2 || parts.at(0).isEmpty() || parts.at(1).isEmpty()) {
        codes.error = QStringLiteral("%1 must hold the two access codes as FIRST:SECOND").arg(origin);
        return codes;
    }
    codes.first = TavClient::WireText::fromUnicode(parts.at(0));
    codes.second = TavClient::WireText::fromUnicode(parts.at(1));
    return codes;
}

} // namespace

AccessCodes loadAccessCodes(const QString& codesFile) {
    if (!codesFile.isEmpty()) {
        QFile file(codesFile);
        if (!file.open(QIODevice::ReadOnly)) {
            AccessCodes codes;
            codes.error = QStringLiteral("cannot read the codes file %1: %2").arg(codesFile, file.errorString());
            return codes;
        }
        return split(QString::fromUtf8(file.readAll()), QStringLiteral("the codes file %1").arg(codesFile));
    }
    const QString env = qEnvironmentVariable("TAVCTL_CODES");
    if (env.isEmpty()) {
        AccessCodes codes;
        codes.error = QStringLiteral("no access codes: give --codes-file FILE or set TAVCTL_CODES=FIRST:SECOND");
        return codes;
    }
    return split(env, QStringLiteral("TAVCTL_CODES"));
}
