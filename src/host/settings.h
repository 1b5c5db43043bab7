#pragma once

#include "platform/notice.h"

#include <QString>

// The registry's two persistent options, kept in "server.ini" in the data
// folder, section "TavRegistry", as "True"/"False". Start-up reads them once
// (loadSettings); the options dialog is the only writer.
class Settings {
public:
    static constexpr const char* kFileName = "server.ini";
    static constexpr const char* kSection = "TavRegistry";
    static constexpr const char* kServiceKey = "Service";
    static constexpr const char* kAutoAllowKey = "AutoAllow";

    explicit Settings(QString dataDir);

    // Where a failed write is reported (nowhere until one is set).
    void setNoticeSink(NoticeSink sink) { m_notice = std::move(sink); }

    QString filePath() const;

    // ReadSetting: the key's value in the registry's section; empty when missing.
    QString readSetting(const QString& key) const;
    // WriteSetting: stores the value at once. A failed write is not reported
    // to the caller's user; it returns false for the caller's own use and
    // tells the notice sink.
    bool writeSetting(const QString& key, const QString& value) const;

    // LoadSettings: fills the in-memory copies from the file.
    void loadSettings();

    // ServiceSetting and AutoAllowSetting, the in-memory copies.
    bool serviceSetting() const { return m_serviceSetting; }
    void setServiceSetting(bool on) { m_serviceSetting = on; }
    bool autoAllowSetting() const { return m_autoAllowSetting; }
    void setAutoAllowSetting(bool on) { m_autoAllowSetting = on; }

    // "True"/"False" in any letter case, or a number (zero is false, any other
    // number true). Anything else, "yes" for example, is false.
    static bool textToBoolean(const QString& text);
    static QString booleanText(bool value);

private:
    bool readBoolean(const QString& key) const;

    QString m_dataDir;
    NoticeSink m_notice;
    bool m_serviceSetting = false;
    bool m_autoAllowSetting = false;
};
