#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <optional>

class Registry;

// What a caller from `ip` would meet now, in words: "admitted", a ban (its
// number, name, end and the form of the address that matched), the
// connection cap, a lockout, the registration allowance, operator_from.
// Accept-time refusals end the answer; session refusals are joined with "; ".
// Only reads: an expired ban is not deleted here. Nothing for a text that is
// not an IP address.
std::optional<QString> addressVerdict(const Registry& registry, const QString& ip, const QDate& today,
                                      const QDateTime& nowUtc);
