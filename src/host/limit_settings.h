#pragma once

#include "host/address_set.h"

class ConfigValues;

// The [limits] section of tavregistry.conf as the registry applies it. The
// defaults switch on only the login lockout, and spare loopback.
struct LimitSettings {
    int connectionsPerAddress = 0; // regular slots one address may hold; 0 = no limit
    int loginFailures = 10;        // failed logins within loginWindowS that lock out; 0 = never
    int loginWindowS = 60;
    int lockoutS = 300;
    int registrationsPerHour = 0; // accounts one address may create in any 60 minutes; 0 = no limit
    int listQueriesPerSecond = 0; // list queries one address may make in a second; 0 = no limit
    AddressSet exempt = defaultExempt();
    AddressSet operatorFrom; // empty: operators may log in from anywhere

    static AddressSet defaultExempt();
    // The values of a configuration read against registryConfigSchema().
    static LimitSettings fromConfig(const ConfigValues& values);
    bool operator==(const LimitSettings&) const = default;
};
