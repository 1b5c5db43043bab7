#pragma once

#include "platform/config_file.h"

// The sections and keys of tavregistry.conf, the registry's own settings for
// running as a Linux service (server.ini keeps the two options of old). The
// sections exist from the start so that a file written for a later version
// fails loudly here rather than being half understood; their keys are
// declared in registry_config.cpp, one line each.
const ConfigSchema& registryConfigSchema();

// "tavregistry.conf", looked for in the data folder when --config is not given.
inline constexpr const char* kRegistryConfigName = "tavregistry.conf";
