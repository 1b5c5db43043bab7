#include "host/limit_settings.h"

#include "platform/config_file.h"

namespace {
const QString kSection = QStringLiteral("limits");

int number(const ConfigValues& values, const char* key) {
    return int(values.value(kSection, QLatin1String(key)).toLongLong());
}

AddressSet addresses(const ConfigValues& values, const char* key) {
    // The schema has checked the text already.
    return AddressSet::parse(values.value(kSection, QLatin1String(key)).toString(), nullptr).value_or(AddressSet{});
}
} // namespace

AddressSet LimitSettings::defaultExempt() {
    return AddressSet::parse(QStringLiteral("127.0.0.0/8 ::1"), nullptr).value_or(AddressSet{});
}

LimitSettings LimitSettings::fromConfig(const ConfigValues& values) {
    LimitSettings s;
    s.connectionsPerAddress = number(values, "connections_per_address");
    s.loginFailures = number(values, "login_failures");
    s.loginWindowS = number(values, "login_window");
    s.lockoutS = number(values, "lockout");
    s.registrationsPerHour = number(values, "registrations_per_hour");
    s.listQueriesPerSecond = number(values, "list_queries_per_second");
    s.exempt = addresses(values, "exempt");
    s.operatorFrom = addresses(values, "operator_from");
    return s;
}
