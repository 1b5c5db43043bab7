#pragma once

#include <QString>
#include <functional>

// How serious a notice from the core is. Notices are for the owner of the
// core (the application), never for the event view.
enum class NoticeSeverity { Info, Warning, Error };

using NoticeSink = std::function<void(NoticeSeverity severity, const QString& text)>;
