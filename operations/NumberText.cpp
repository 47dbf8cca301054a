#include "NumberText.h"

#include <cmath>
#include <cstdio>

namespace r4t8 {

namespace {
QString TrimFraction(QString s) {
    if (s.contains('.')) {
        while (s.endsWith('0')) s.chop(1);
        if (s.endsWith('.')) s.chop(1);
    }
    return s;
}
}  // namespace

QString FormatZeroHash(double value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    // Round half away from zero on the decimal value, as a spreadsheet format does; the
    // small nudge keeps 0.125 (stored as 0.12499999...) from rounding down.
    const double scaled = value * 100.0;
    double rounded = std::round(scaled + (scaled >= 0 ? 1e-9 : -1e-9));
    if (rounded == 0) rounded = 0;  // no "-0"
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", rounded / 100.0);
    return TrimFraction(QString::fromLatin1(buf));
}

QString GeneralFloatText(double value) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0) return QStringLiteral("0");
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    QString s = QString::fromLatin1(buf);
    const int e = s.indexOf('E');
    if (e < 0) return TrimFraction(s);
    // Exponent form: trim the mantissa, drop the '+' and leading zeros of the exponent.
    QString mantissa = TrimFraction(s.left(e));
    QString exponent = s.mid(e + 1);
    const bool negative = exponent.startsWith('-');
    if (exponent.startsWith('+') || negative) exponent = exponent.mid(1);
    while (exponent.size() > 1 && exponent.startsWith('0')) exponent = exponent.mid(1);
    return mantissa + "E" + (negative ? "-" : "") + exponent;
}

}  // namespace r4t8
