#pragma once

#include "database/ban_set.h"

#include <QDate>
#include <QString>
#include <optional>

// Unban dates as the administrator sees and types them.
namespace BanDates {

// The system's short date format; the empty text for no date.
QString display(const std::optional<QDate>& date);

// Accepts the system's short format, M/d/yy and M/d/yyyy; a two-digit year
// means 2000-2099. Nothing when the text is not a date.
std::optional<QDate> parse(const QString& text);

// A line of the ban list: the address, " - ", the unban date.
QString listLine(const BanRecord& ban);

// The address of a ban-list line: the text before the first " - ", or nothing.
std::optional<QString> addressOfListLine(const QString& line);

} // namespace BanDates
