#include "tavctl/console.h"

#include "tavctl/terminal_text.h"

#include <QJsonObject>
#include <cstdio>
#include <iostream>
#include <string>

namespace Console {

namespace {

bool jsonErrors = false;

void write(FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void out(const QString& text) { write(stdout, text); }

void err(const QString& text) {
    // Complaints often quote what a peer said, so they get the same care.
    if (jsonErrors)
        write(stderr,
              TerminalText::json(QJsonDocument(QJsonObject{{"error", text}}), QJsonDocument::Compact) +
                  QLatin1Char('\n'));
    else
        write(stderr, QStringLiteral("tavctl: ") + TerminalText::visible(text) + QLatin1Char('\n'));
}

int fail(int exitCode, const QString& text) {
    err(text);
    return exitCode;
}

void setJsonErrors(bool on) { jsonErrors = on; }

QString readLine() {
    std::string line;
    if (!std::getline(std::cin, line))
        return {};
    return QString::fromStdString(line).trimmed();
}

} // namespace Console
