#pragma once

#include <QString>

// Where a program lives decides where it writes: an installed program sits in
// the bin/ folder of an installation prefix and never writes there (updates
// reach it through the package manager); any other program lives in a folder
// of its own, which holds its data and which the update hand-over rewrites.
bool livesInFolderOfItsOwn(const QString& executableFolder);
