#include "core/recording/UnitSymbols.h"

namespace voltaro {

QString unitSymbols(const QString& stored) {
    static const QString ohm = QStringLiteral("\u03A9");
    static const QString micro = QStringLiteral("\u00B5");
    if (stored == QLatin1String("&  *")) // continuity: the ohm range with the buzzer sign
        return ohm;
    if (stored == QLatin1String("V)")) // diode test: volts across the diode
        return QStringLiteral("V");
    if (stored == QLatin1String("?"))
        return QStringLiteral("\u00B0F");
    if (stored == QLatin1String("#"))
        return QStringLiteral("\u00B0C");
    QString shown = stored;
    if (shown.startsWith(QLatin1Char('u')) || shown.startsWith(QLatin1Char('+')))
        shown.replace(0, 1, micro);
    if (shown.startsWith(QLatin1Char('K')))
        shown.replace(0, 1, QLatin1Char('k'));
    shown.replace(QLatin1Char('*'), ohm);
    return shown;
}

double unitPrefixScale(std::string_view stored) {
    // A unit of one character has no prefix.
    if (stored.size() < 2)
        return 1;
    switch (stored.front()) {
    case 'n': return 1e-9;
    case 'u':
    case '+': return 1e-6; // both are the font's micro sign
    case 'm': return 1e-3;
    case 'k':
    case 'K': return 1e3;
    case 'M': return 1e6;
    default: return 1;
    }
}

QString siUnitSymbols(std::string_view stored) {
    const QString shown =
        unitSymbols(QString::fromLatin1(stored.data(), static_cast<qsizetype>(stored.size())));
    return unitPrefixScale(stored) == 1 ? shown : shown.mid(1);
}

} // namespace voltaro
