#pragma once

#include <QString>

#include <optional>

namespace voltaro {

// What the number edits let the user type, and how they repair a text that
// is no number. Control characters (backspace, shortcuts) always pass.

// Judgement limits: "-", digits and the first character of the decimal separator.
bool limitKeyAccepted(QChar c, const QString& decimalSep);
// Alarm limits: "+", "-" and digits.
bool alarmKeyAccepted(QChar c);
// Sampling interval and page width: digits only.
bool digitKeyAccepted(QChar c);

struct TextRepair {
    QString text;
    int selectionStart;
    int selectionLength;
};

// A judgement limit: a lone "-" becomes "-0" with the "0" selected; a text
// that is no number becomes "0", selected.
std::optional<TextRepair> repairLimitText(const QString& text, const QString& decimalSep);
// The sampling interval: anything but a 32-bit integer becomes "1", selected.
std::optional<TextRepair> repairIntervalText(const QString& text);

// An alarm limit in counts: "-", "+" or nothing is 0; otherwise the text's
// integer value, or nothing (with `error` set) when it is not an integer.
std::optional<float> alarmLimitValue(const QString& text, QString& error);

} // namespace voltaro
