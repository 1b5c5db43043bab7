#pragma once

#include <QIcon>

// The registry's own icon (packaging/tavregistry.svg), for its windows and
// the tray; a PNG built into the program, so no image plugin is needed.
QIcon applicationIcon();
