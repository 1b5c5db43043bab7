#pragma once

#include "platform/config_file.h"

#include <QList>
#include <QString>
#include <QStringList>

// tavregistry.conf as the running process sees it: read at start-up, read
// again on SIGHUP, with the command line's options of the same names on top.
class Configuration {
public:
    struct Override {
        QString section, key, value;
    };

    // `explicitPath` is --config (must exist); empty: `defaultPath` when it exists.
    Configuration(const ConfigSchema& schema, QString explicitPath, QString defaultPath, QList<Override> overrides);

    // Start-up: false with a message naming file, line and fault.
    bool load(QString* errorText);
    // SIGHUP: a valid file takes effect (keys that cannot change while running
    // keep their value; `notices` names them); an invalid one changes nothing.
    bool reload(QStringList* notices, QString* errorText);

    const ConfigValues& values() const { return m_values; }
    // The file read, or empty when none is.
    QString path() const;

private:
    bool read(ConfigValues* values, QString* errorText) const;

    const ConfigSchema& m_schema;
    QString m_explicitPath;
    QString m_defaultPath;
    QList<Override> m_overrides;
    ConfigValues m_values;
};
