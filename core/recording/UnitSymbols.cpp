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

} // namespace voltaro
