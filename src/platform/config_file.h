#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

// A configuration file with a fixed set of sections and keys:
//
//   ; comment            # comment
//   [section]
//   key = value
//
// Every section and key the program knows is declared in a schema, with a
// parser for its values, a default and whether it may change while the
// program runs. Anything else in a file (an unknown section or key, a bad
// value, a key set twice, a line that is none of the above) is an error that
// names the file and the line: a typo must never silently switch a
// protection off.
struct ConfigKey {
    using Parser = std::function<bool(const QString& text, QVariant* value, QString* why)>;

    QString name;
    Parser parse;
    QVariant defaultValue;
    bool reloadable = true; // false: a new value waits for the next start

    // The usual kinds, so that declaring a key takes one line.
    static ConfigKey integer(const QString& name, qint64 min, qint64 max, qint64 defaultValue, bool reloadable);
    static ConfigKey boolean(const QString& name, bool defaultValue, bool reloadable);
    static ConfigKey text(const QString& name, const QString& defaultValue, bool reloadable);
};

struct ConfigSection {
    QString name;
    QList<ConfigKey> keys;
};

using ConfigSchema = QList<ConfigSection>;

// The values of every key of a schema, by "section.key".
class ConfigValues {
public:
    static ConfigValues defaults(const ConfigSchema& schema);
    QVariant value(const QString& section, const QString& key) const;
    void set(const QString& section, const QString& key, const QVariant& value);
    bool operator==(const ConfigValues&) const = default;

private:
    QMap<QString, QVariant> m_values;
};

namespace ConfigFile {

// The values a file's text sets, on top of the schema's defaults; `source`
// names the file in messages ("FILE:LINE: what is wrong").
std::optional<ConfigValues> parse(const ConfigSchema& schema, const QByteArray& text, const QString& source,
                                  QString* errorText);
// The same for a file on disk; a file that cannot be read is an error.
std::optional<ConfigValues> load(const ConfigSchema& schema, const QString& path, QString* errorText);
// Sets one key from a command-line option; false with a reason when the
// section, the key or the value is not one the schema knows.
bool applyOverride(const ConfigSchema& schema, ConfigValues& values, const QString& section, const QString& key,
              const QString& text, QString* errorText);
// "section.key" of each key that may not change while running and differs.
QStringList fixedKeysChanged(const ConfigSchema& schema, const ConfigValues& before, const ConfigValues& after);

} // namespace ConfigFile
