#pragma once

#include <QString>

// True for the empty text and for a text whose every character is an ASCII
// letter, a digit, a space or an underscore. Length, first character and
// spaces are each caller's own conditions.
bool IsValidAccountText(const QString& text);

// The account dialog's rule for a name or a password: 3 to 15 characters, a
// letter first, only letters, digits and underscores.
bool isAcceptableAccountName(const QString& text);
