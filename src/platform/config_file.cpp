#include "platform/config_file.h"

#include <QFile>

namespace {

QString fullName(const QString& section, const QString& key) { return section + QLatin1Char('.') + key; }

const ConfigSection* findSection(const ConfigSchema& schema, const QString& name) {
    for (const ConfigSection& s : schema)
        if (s.name == name)
            return &s;
    return nullptr;
}

const ConfigKey* findKey(const ConfigSection& section, const QString& name) {
    for (const ConfigKey& k : section.keys)
        if (k.name == name)
            return &k;
    return nullptr;
}

// Names are plain: letters, digits, '-' and '_'.
bool isName(const QString& text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return false;
    return true;
}

bool parseValue(const ConfigKey& key, const QString& section, const QString& text, QVariant* value, QString* why) {
    QString reason;
    if (key.parse(text, value, &reason))
        return true;
    *why = QStringLiteral("bad value '%1' for %2 in [%3]: %4").arg(text, key.name, section, reason);
    return false;
}

} // namespace

ConfigKey ConfigKey::integer(const QString& name, qint64 min, qint64 max, qint64 defaultValue, bool reloadable) {
    return {name,
            [min, max](const QString& text, QVariant* value, QString* why) {
                bool ok = false;
                const qint64 n = text.toLongLong(&ok, 10);
                if (!ok || n < min || n > max) {
                    *why = QStringLiteral("a whole number from %1 to %2 is wanted").arg(min).arg(max);
                    return false;
                }
                *value = n;
                return true;
            },
            defaultValue, reloadable};
}

ConfigKey ConfigKey::boolean(const QString& name, bool defaultValue, bool reloadable) {
    return {name,
            [](const QString& text, QVariant* value, QString* why) {
                const QString t = text.toLower();
                if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on") ||
                    t == QLatin1String("1")) {
                    *value = true;
                    return true;
                }
                if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off") ||
                    t == QLatin1String("0")) {
                    *value = false;
                    return true;
                }
                *why = QStringLiteral("true or false is wanted");
                return false;
            },
            defaultValue, reloadable};
}

ConfigKey ConfigKey::text(const QString& name, const QString& defaultValue, bool reloadable) {
    return {name,
            [](const QString& text, QVariant* value, QString*) {
                *value = text;
                return true;
            },
            defaultValue, reloadable};
}

ConfigValues ConfigValues::defaults(const ConfigSchema& schema) {
    ConfigValues values;
    for (const ConfigSection& s : schema)
        for (const ConfigKey& k : s.keys)
            values.set(s.name, k.name, k.defaultValue);
    return values;
}

QVariant ConfigValues::value(const QString& section, const QString& key) const {
    return m_values.value(fullName(section, key));
}

void ConfigValues::set(const QString& section, const QString& key, const QVariant& value) {
    m_values.insert(fullName(section, key), value);
}

namespace ConfigFile {

std::optional<ConfigValues> parse(const ConfigSchema& schema, const QByteArray& text, const QString& source,
                                  QString* errorText) {
    ConfigValues values = ConfigValues::defaults(schema);
    const ConfigSection* section = nullptr;
    QStringList seen;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        auto fail = [&](const QString& what) -> std::optional<ConfigValues> {
            if (errorText)
                *errorText = QStringLiteral("%1:%2: %3").arg(source).arg(i + 1).arg(what);
            return std::nullopt;
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return fail(QStringLiteral("a section header must end with ']'"));
            const QString name = line.mid(1, line.size() - 2).trimmed();
            section = findSection(schema, name);
            if (!section)
                return fail(QStringLiteral("unknown section [%1]").arg(name));
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(QStringLiteral("expected 'key = value', a [section] or a comment, not '%1'").arg(line));
        const QString name = line.first(equals).trimmed();
        const QString value = line.sliced(equals + 1).trimmed();
        if (!section)
            return fail(QStringLiteral("key '%1' stands before any [section]").arg(name));
        const ConfigKey* key = isName(name) ? findKey(*section, name) : nullptr;
        if (!key)
            return fail(QStringLiteral("unknown key '%1' in [%2]").arg(name, section->name));
        const QString full = fullName(section->name, name);
        if (seen.contains(full))
            return fail(QStringLiteral("%1 in [%2] is set a second time").arg(name, section->name));
        seen << full;
        QVariant parsed;
        QString why;
        if (!parseValue(*key, section->name, value, &parsed, &why))
            return fail(why);
        values.set(section->name, name, parsed);
    }
    return values;
}

std::optional<ConfigValues> load(const ConfigSchema& schema, const QString& path, QString* errorText) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parse(schema, file.readAll(), path, errorText);
}

bool applyOverride(const ConfigSchema& schema, ConfigValues& values, const QString& section, const QString& key,
              const QString& text, QString* errorText) {
    const ConfigSection* s = findSection(schema, section);
    const ConfigKey* k = s ? findKey(*s, key) : nullptr;
    if (!k) {
        if (errorText)
            *errorText = QStringLiteral("unknown option --%1-%2").arg(section, key);
        return false;
    }
    QVariant parsed;
    if (!parseValue(*k, section, text, &parsed, errorText))
        return false;
    values.set(section, key, parsed);
    return true;
}

QStringList fixedKeysChanged(const ConfigSchema& schema, const ConfigValues& before, const ConfigValues& after) {
    QStringList changed;
    for (const ConfigSection& s : schema)
        for (const ConfigKey& k : s.keys)
            if (!k.reloadable && before.value(s.name, k.name) != after.value(s.name, k.name))
                changed << fullName(s.name, k.name);
    return changed;
}

} // namespace ConfigFile
