#include "TempoAnalysis.h"

#include <cmath>

namespace {
struct Fraction {
    int numerator;
    int denominator;
};

// The relations between a tempo and the one a listener taps that are common enough to
// name; anything else is shown as a decimal factor.
const Fraction kFractions[] = {{1, 1}, {2, 1}, {1, 2}, {3, 2}, {2, 3}, {3, 1},
                               {1, 3}, {4, 3}, {3, 4}, {4, 1}, {1, 4}};

bool simpleFraction(double ratio, Fraction *out) {
    for (const Fraction &f : kFractions)
        // Loose enough for a tempo fitted to the loop's length (within 2%) against one
        // that is not, tight enough to keep 4/3 and 3/2 apart.
        if (std::fabs(ratio - double(f.numerator) / f.denominator) < 0.03 * ratio) {
            *out = f;
            return true;
        }
    return false;
}
} // namespace

QString TempoText::relation(double ratio) {
    Fraction f{};
    if (!(ratio > 0.0) || !std::isfinite(ratio))
        return QString();
    if (!simpleFraction(ratio, &f))
        return QStringLiteral("×%1").arg(ratio, 0, 'f', 2);
    if (f.numerator == 1 && f.denominator == 2)
        return QStringLiteral("½");
    if (f.numerator == 1 && f.denominator == 3)
        return QStringLiteral("⅓");
    if (f.numerator == 1 && f.denominator == 4)
        return QStringLiteral("¼");
    if (f.denominator == 1)
        return QStringLiteral("×%1").arg(f.numerator);
    return QStringLiteral("×%1⁄%2").arg(f.numerator).arg(f.denominator);
}

QString TempoText::relationAscii(double ratio) {
    Fraction f{};
    if (!(ratio > 0.0) || !std::isfinite(ratio))
        return QString();
    if (!simpleFraction(ratio, &f))
        return QStringLiteral("x%1").arg(ratio, 0, 'f', 2);
    if (f.numerator == 1)
        return QStringLiteral("1/%1").arg(f.denominator);
    if (f.denominator == 1)
        return QStringLiteral("x%1").arg(f.numerator);
    return QStringLiteral("x%1/%2").arg(f.numerator).arg(f.denominator);
}

QString TempoText::fit(int bars, int beatsPerBar, double bpm) {
    if (bars <= 0 || beatsPerBar <= 0)
        return QString();
    const QString tempo = QString::number(bpm, 'f', 2);
    const QString count = bars == 1 ? QStringLiteral("1 bar") : QStringLiteral("%1 bars").arg(bars);
    if (beatsPerBar == 4)
        return QStringLiteral("%1 at %2 BPM").arg(count, tempo);
    return QStringLiteral("%1 of %2/4 at %3 BPM").arg(count).arg(beatsPerBar).arg(tempo);
}
