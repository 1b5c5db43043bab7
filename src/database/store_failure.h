#pragma once

#include "database/store_statement.h"

#include <QString>

// What the registry tells a user when a record is not stored: its own words,
// never the engine's SQL or driver text.
namespace StoreFailure {

// "The user name is longer than 15 characters."
QString tooLong(const char* field, int limit);
// "The official mark must be a number from 0 to 255."
QString outOfRange(const char* field, int lowest, int highest);
QString notOpen();

// A refusal by the engine, whichever it is. `duplicate` is what a broken
// uniqueness means for the table at hand.
QString fromRefusal(StoreRefusal refusal, const QString& duplicate);

// Sets `refusal` to the too-long text for `field` when it is still empty and
// `value` has more than `size` characters (as the file counts them: one for a
// character beyond the 16-bit range, not two).
void checkLength(QString& refusal, const QString& value, int size, const char* field);

// Says why, when the caller asked, and gives the failure value.
template <typename Result = bool> Result refuse(QString* error, const QString& why) {
    if (error)
        *error = why;
    return Result{};
}

} // namespace StoreFailure
