#include "core/recording/InputRules.h"

#include "core/decode/IntegerText.h"
#include "core/decode/NumberFormat.h"

namespace voltaro {

namespace {

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}
bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

bool limitKeyAccepted(QChar c, const QString& decimalSep) {
    return isControl(c) || isAsciiDigit(c) || c == QLatin1Char('-') ||
           (!decimalSep.isEmpty() && c == decimalSep[0]);
}

bool alarmKeyAccepted(QChar c) {
    return isControl(c) || isAsciiDigit(c) || c == QLatin1Char('-') || c == QLatin1Char('+');
}

bool digitKeyAccepted(QChar c) {
    return isControl(c) || isAsciiDigit(c);
}

std::optional<TextRepair> repairLimitText(const QString& text, const QString& decimalSep) {
    if (text.trimmed() == QLatin1String("-"))
        return TextRepair{QStringLiteral("-0"), 1, 1};
    if (!parseNumber(text.toStdString(), decimalSep.toStdString()))
        return TextRepair{QStringLiteral("0"), 0, 1};
    return std::nullopt;
}

std::optional<TextRepair> repairIntervalText(const QString& text) {
    if (parseInteger(text))
        return std::nullopt;
    return TextRepair{QStringLiteral("1"), 0, 1};
}

std::optional<float> alarmLimitValue(const QString& text, QString& error) {
    if (text.isEmpty() || text == QLatin1String("-") || text == QLatin1String("+"))
        return 0.0f;
    const std::optional<int> v = parseInteger(text);
    if (!v) {
        error = notAnIntegerMessage(text);
        return std::nullopt;
    }
    return static_cast<float>(*v);
}

} // namespace voltaro
