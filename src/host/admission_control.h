#pragma once

#include "database/ban_set.h"

#include <QDate>
#include <QString>
#include <optional>

// Whether a caller's address may stay, judged by the IP bans. A ban's address
// is matched as given, then with its last part 0 (a /24 network), then with
// its last two parts 0.0 (a /16 network); the most specific ban wins.

// level 1: the address up to its last "." followed by "0"; level 2: up to its
// second-to-last "." followed by "0.0"; otherwise (another level, or too few
// dots) the address unchanged.
QString MaskAddress(const QString& address, int level);

// The ban that governs `address`, if any. An empty table is not searched.
std::optional<BanRecord> findGoverningBan(const BanSet& bans, const QString& address);

bool IsBanned(const BanSet& bans, const QString& address);

// The unban date of the governing ban; nothing when no ban matches or when
// the matching ban has no unban date.
std::optional<QDate> BanUnbanDate(const BanSet& bans, const QString& address);

// True when the unban date is today or in the past.
bool BanExpired(const QDate& unbanDate, const QDate& today);

enum class Admission {
    Admitted,             // no ban matches
    AdmittedBanLifted,    // the governing ban had expired and this decision deleted it
    Banned,
};

// The decision of the accept path. A governing ban without an unban date
// never expires.
Admission decideAdmission(BanSet& bans, const QString& address, const QDate& today);
