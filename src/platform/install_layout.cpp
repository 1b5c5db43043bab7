#include "platform/install_layout.h"

#include <QFileInfo>

bool livesInFolderOfItsOwn(const QString& executableFolder) {
    return QFileInfo(executableFolder).fileName() != QLatin1String("bin");
}
