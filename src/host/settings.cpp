#include "host/settings.h"

#include "platform/ini_file.h"

#include <QDir>

#include <cmath>

Settings::Settings(QString dataDir) : m_dataDir(std::move(dataDir)) {}

QString Settings::filePath() const {
    return QDir(m_dataDir).filePath(QString::fromLatin1(kFileName));
}

QString Settings::readSetting(const QString& key) const {
    return IniFile::read(filePath(), QString::fromLatin1(kSection), key);
}

bool Settings::writeSetting(const QString& key, const QString& value) const {
    QString error;
    if (!IniFile::write(filePath(), QString::fromLatin1(kSection), key, value, &error)) {
        if (m_notice)
            m_notice(NoticeSeverity::Warning,
                     QStringLiteral("cannot write %1 to %2: %3").arg(key, filePath(), error));
        return false;
    }
    return true;
}

void Settings::loadSettings() {
    m_serviceSetting = readBoolean(QString::fromLatin1(kServiceKey));
    m_autoAllowSetting = readBoolean(QString::fromLatin1(kAutoAllowKey));
}

bool Settings::readBoolean(const QString& key) const {
    QString text = readSetting(key);
    if (text.isEmpty())
        text = booleanText(false);
    return textToBoolean(text);
}

bool Settings::textToBoolean(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool isNumber = false;
    const double number = t.toDouble(&isNumber);
    // "nan" and "inf" parse as doubles but are no numbers a person writes.
    if (!isNumber || !std::isfinite(number))
        return false;
    return number != 0.0;
}

QString Settings::booleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}
