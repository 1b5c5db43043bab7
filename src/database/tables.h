#pragma once

// The columns each record set reads, in the order its record reader takes
// them, and the field sizes checked before anything is written (the file
// enforces the same sizes itself).
namespace ServersTable {
constexpr const char* kColumns = "Bookmark, User, Password, Name, Description, UpdateURL, Official";
// The same, as PostgreSQL needs them (User is a key word there; names keep their case only quoted).
constexpr const char* kQuotedColumns =
    "\"Bookmark\", \"User\", \"Password\", \"Name\", \"Description\", \"UpdateURL\", \"Official\"";
constexpr int kUserSize = 15;
constexpr int kPasswordSize = 15;
constexpr int kNameSize = 50;
constexpr int kDescriptionSize = 255;
constexpr int kUpdateUrlSize = 255;
} // namespace ServersTable

namespace BansTable {
constexpr const char* kColumns = "Number, Name, IP, Reason, UnbanDate";
// The day as an ISO text whatever the session's DateStyle.
constexpr const char* kQuotedColumns =
    "\"Number\", \"Name\", \"IP\", \"Reason\", to_char(\"UnbanDate\", 'YYYY-MM-DD')";
constexpr int kNameSize = 15;
constexpr int kIpSize = 15;
constexpr int kReasonSize = 255;
} // namespace BansTable

// A byte field holds 0 to 255.
constexpr int kHighestByte = 255;
