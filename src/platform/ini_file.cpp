#include "platform/ini_file.h"

#include "platform/code_page.h"
#include "platform/file_rewrite.h"

#include <QByteArrayList>
#include <QFile>

#include <algorithm>
#include <optional>

namespace IniFile {
namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

bool sameName(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && CodePage::upper(a) == CodePage::upper(b);
}

// One line of the file without its line break.
struct Line {
    QByteArrayView text;
    qsizetype end = 0; // offset just past the line break
};

QList<Line> splitLines(const QByteArray& content) {
    QList<Line> lines;
    qsizetype pos = content.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
    while (pos < content.size()) {
        qsizetype nl = content.indexOf('\n', pos);
        const qsizetype next = nl < 0 ? content.size() : nl + 1;
        if (nl < 0)
            nl = content.size();
        qsizetype stop = nl;
        if (stop > pos && content[stop - 1] == '\r')
            --stop;
        lines.append({QByteArrayView(content).sliced(pos, stop - pos), next});
        pos = next;
    }
    return lines;
}

// The section name of a header line, or nothing when the line is no header.
std::optional<QByteArrayView> sectionOf(QByteArrayView line) {
    const QByteArrayView t = trimmed(line);
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimmed(t.sliced(1, close - 1));
}

bool isComment(QByteArrayView line) {
    const QByteArrayView t = trimmed(line);
    return t.startsWith(';') || t.startsWith('#');
}

// The key of a "key=value" line, or nothing.
std::optional<QByteArrayView> keyOf(QByteArrayView line) {
    if (isComment(line))
        return std::nullopt;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return trimmed(line.first(eq));
}

QByteArrayView valueOf(QByteArrayView line) {
    QByteArrayView v = trimmed(line.sliced(line.indexOf('=') + 1));
    // The profile functions drop one pair of enclosing quotes.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.sliced(1, v.size() - 2);
    return v;
}

// Where a section starts and ends, as indexes into the line list.
struct SectionSpan {
    qsizetype header = -1;
    qsizetype lastKeyLine = -1; // the last non-blank line of the section
    qsizetype keyLine = -1;     // the first line with the wanted key
};

SectionSpan locate(const QList<Line>& lines, QByteArrayView section, QByteArrayView key) {
    SectionSpan span;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionOf(lines[i].text);
        if (span.header < 0) {
            if (name && sameName(*name, section)) {
                span.header = i;
                span.lastKeyLine = i;
            }
            continue;
        }
        if (name)
            break; // the first matching section ends here
        if (!trimmed(lines[i].text).isEmpty())
            span.lastKeyLine = i;
        const auto k = keyOf(lines[i].text);
        if (span.keyLine < 0 && k && sameName(*k, key))
            span.keyLine = i;
    }
    return span;
}

bool hasLineBreak(QStringView text) {
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) || text.contains(QChar(0));
}

bool isSafeName(QStringView name) {
    return !name.isEmpty() && !hasLineBreak(name) && name.trimmed().size() == name.size();
}

} // namespace

QString read(const QString& path, const QString& section, const QString& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    const QList<Line> lines = splitLines(content);
    const SectionSpan span = locate(lines, CodePage::fromUnicode(section), CodePage::fromUnicode(key));
    if (span.keyLine < 0)
        return {};
    const QByteArrayView value = valueOf(lines[span.keyLine].text);
    return CodePage::toUnicode(value.first(std::min<qsizetype>(kMaxValueLength, value.size())));
}

bool write(const QString& path, const QString& section, const QString& key, const QString& value,
           QString* errorText) {
    auto fail = [errorText](const QString& why) {
        if (errorText)
            *errorText = why;
        return false;
    };
    if (!isSafeName(section) || section.contains(QLatin1Char(']')))
        return fail(QStringLiteral("the section name '%1' cannot be stored").arg(section));
    if (!isSafeName(key) || key.contains(QLatin1Char('=')) || key.startsWith(QLatin1Char('[')) ||
        key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char('#')))
        return fail(QStringLiteral("the key name '%1' cannot be stored").arg(key));
    if (hasLineBreak(value))
        return fail(QStringLiteral("a value with a line break cannot be stored"));

    QByteArray content;
    {
        QFile current(path);
        if (current.exists()) {
            if (!current.open(QIODevice::ReadOnly))
                return fail(current.errorString());
            content = current.readAll();
        }
    }
    const QByteArray eol = content.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const QByteArray sectionBytes = CodePage::fromUnicode(section);
    const QByteArray keyBytes = CodePage::fromUnicode(key);
    const QByteArray entry = keyBytes + '=' + CodePage::fromUnicode(value);

    const QList<Line> lines = splitLines(content);
    const SectionSpan span = locate(lines, sectionBytes, keyBytes);
    auto offsetOfLine = [&](qsizetype i) {
        return i > 0 ? lines[i - 1].end : (content.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0);
    };

    QByteArray updated;
    if (span.keyLine >= 0) {
        // Replace the line's text, keep its own line break.
        const qsizetype begin = offsetOfLine(span.keyLine);
        const qsizetype textEnd = begin + lines[span.keyLine].text.size();
        updated = content.first(begin) + entry + content.sliced(textEnd);
    } else if (span.header >= 0) {
        const Line& after = lines[span.lastKeyLine];
        qsizetype insertAt = after.end;
        QByteArray insert = entry + eol;
        if (insertAt == content.size() && !content.endsWith('\n'))
            insert.prepend(eol); // the last line had no line break
        updated = content.first(insertAt) + insert + content.sliced(insertAt);
    } else {
        updated = content;
        if (!updated.isEmpty() && !updated.endsWith('\n'))
            updated += eol;
        updated += '[' + sectionBytes + ']' + eol + entry + eol;
    }

    QString why;
    if (!rewriteFile(path, updated, &why))
        return fail(why);
    return true;
}

} // namespace IniFile
