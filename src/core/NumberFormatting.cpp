#include "core/NumberFormatting.h"

#include <cmath>

namespace {

const QString dash = QStringLiteral("\u2014");

// Rounds halves away from zero and never shows "-0".
QString wholeNumber(double value)
{
    double rounded = std::round(value);
    if (rounded == 0)
        rounded = 0;
    return QString::number(rounded, 'f', 0);
}

} // namespace

namespace NumberFormatting {

QString percent(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return dash;
    return wholeNumber(*value) + QLatin1Char('%');
}

QString signedPoints(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return dash;
    return (*value >= 0 ? QStringLiteral("+") : QString()) + wholeNumber(*value) + QStringLiteral("pp");
}

QString money(bool gbp, double usd)
{
    const double amount = gbp ? usd * 0.79 : usd;
    if (!std::isfinite(amount))
        return dash;
    const QString symbol = gbp ? QStringLiteral("£") : QStringLiteral("$");
    return symbol + QString::number(amount, 'f', amount >= 100 ? 0 : 2);
}

QString tokens(qint64 count)
{
    if (count >= 1'000'000'000)
        return QString::number(double(count) / 1e9, 'f', 1) + QLatin1Char('B');
    if (count >= 1'000'000)
        return QString::number(double(count) / 1e6, 'f', 0) + QLatin1Char('M');
    if (count >= 1000)
        return QString::number(double(count) / 1000, 'f', 0) + QLatin1Char('K');
    return QString::number(count);
}

QString currencyPrefix(QStringView code)
{
    const QString upper = code.trimmed().toString().toUpper();
    if (upper.isEmpty() || upper == QLatin1String("GBP"))
        return QStringLiteral("£");
    if (upper == QLatin1String("USD"))
        return QStringLiteral("$");
    if (upper == QLatin1String("EUR"))
        return QStringLiteral("€");
    return upper + QLatin1Char(' ');
}

} // namespace NumberFormatting
