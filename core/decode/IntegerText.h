#pragma once

#include <QString>

#include <optional>

namespace voltaro {

// The one reading of an integer typed into an edit (page width, sampling
// interval, alarm limits): base 10, an optional sign, blanks around it
// allowed, within 32 bits; anything else, an empty text included, is none.
std::optional<int> parseInteger(const QString& text);

// What the user is told when `text` is not an integer.
QString notAnIntegerMessage(const QString& text);

} // namespace voltaro
