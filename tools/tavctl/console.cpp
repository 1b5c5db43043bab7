#include "tavctl/console.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace Console {

void out(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void err(const QString& text) {
    const QByteArray bytes = (QStringLiteral("tavctl: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString readLine() {
    std::string line;
    if (!std::getline(std::cin, line))
        return {};
    return QString::fromStdString(line).trimmed();
}

} // namespace Console
