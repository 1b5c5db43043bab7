#include "ui/application_icon.h"

QIcon applicationIcon() { return QIcon(QStringLiteral(":/icons/tavregistry.png")); }
