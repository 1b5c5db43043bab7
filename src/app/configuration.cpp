#include "app/configuration.h"

#include <QFileInfo>

Configuration::Configuration(const ConfigSchema& schema, QString explicitPath, QString defaultPath,
                             QList<Override> overrides)
    : m_schema(schema), m_explicitPath(std::move(explicitPath)), m_defaultPath(std::move(defaultPath)),
      m_overrides(std::move(overrides)), m_values(ConfigValues::defaults(schema)) {}

QString Configuration::path() const {
    if (!m_explicitPath.isEmpty())
        return m_explicitPath;
    return QFileInfo::exists(m_defaultPath) ? m_defaultPath : QString();
}

bool Configuration::read(ConfigValues* values, QString* errorText) const {
    const QString file = path();
    if (file.isEmpty()) {
        *values = ConfigValues::defaults(m_schema);
    } else {
        auto loaded = ConfigFile::load(m_schema, file, errorText);
        if (!loaded)
            return false;
        *values = *loaded;
    }
    for (const Override& o : m_overrides)
        if (!ConfigFile::applyOverride(m_schema, *values, o.section, o.key, o.value, errorText))
            return false;
    return true;
}

bool Configuration::load(QString* errorText) { return read(&m_values, errorText); }

bool Configuration::reload(QStringList* notices, QString* errorText) {
    ConfigValues fresh;
    if (!read(&fresh, errorText))
        return false;
    for (const QString& full : ConfigFile::fixedKeysChanged(m_schema, m_values, fresh)) {
        const qsizetype dot = full.indexOf(QLatin1Char('.'));
        const QString section = full.first(dot), key = full.sliced(dot + 1);
        fresh.set(section, key, m_values.value(section, key));
        if (notices)
            *notices << QStringLiteral("%1 in [%2] changes only at the next start").arg(key, section);
    }
    m_values = fresh;
    return true;
}
