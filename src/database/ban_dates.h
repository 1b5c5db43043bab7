#pragma once

#include "database/ban_set.h"

#include <QDate>
#include <QLocale>
#include <QString>
#include <optional>

// Unban dates as the administrator sees and types them. One rule in every
// locale: a date is three numbers in the field order of the locale's short
// date format (any separator of / . - and any number of digits for day and
// month); where that format is not numeric (C, POSIX) the order is
// month/day/year, as the dialog's "mm/dd/yy" hint says, and dates are shown
// as MM/dd/yyyy. A two-digit year means 2000-2099; a year of one or three
// digits is refused. Whatever display() writes, parse() reads back as the
// same date.
namespace BanDates {

// The empty text for no date.
QString display(const std::optional<QDate>& date, const QLocale& locale = QLocale());

// Nothing when the text is not a date.
std::optional<QDate> parse(const QString& text, const QLocale& locale = QLocale());

// A line of the ban list: the address, " - ", the unban date.
QString listLine(const BanRecord& ban, const QLocale& locale = QLocale());

// The address of a ban-list line: the text before the first " - ", or nothing.
std::optional<QString> addressOfListLine(const QString& line);

} // namespace BanDates
