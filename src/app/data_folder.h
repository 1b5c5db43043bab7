#pragma once

#include <QString>

// The data folder when --data-dir is not given. A registry that lives in a
// folder of its own keeps its data beside itself; an installed program (one
// in the bin/ folder of an installation prefix) never writes there: its data
// goes to $XDG_DATA_HOME/tavregistry (usually ~/.local/share/tavregistry).
QString defaultDataFolder(const QString& executableFolder);

// The folder of the running executable.
QString executableFolder(const char* argv0);
