#include "core/text/NumberFormatting.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

QString wholeNumber(double value)
{
    return NumberFormatting::fixed(NumberFormatting::rounded(value), 0);
}

} // namespace

namespace NumberFormatting {

double rounded(double value)
{
    const double whole = std::round(value);
    return whole == 0 ? 0.0 : whole;
}

QString fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return dash;
    // Room for the largest double written out in full.
    std::array<char, 400> buffer{};
    const auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                            std::chars_format::fixed, decimals);
    if (error != std::errc())
        return dash;
    return QString::fromLatin1(buffer.data(), end - buffer.data());
}

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
    return symbol + fixed(amount, amount >= 100 ? 0 : 2);
}

QString tokens(qint64 count)
{
    if (count >= 1'000'000'000)
        return fixed(double(count) / 1e9, 1) + QLatin1Char('B');
    if (count >= 1'000'000)
        return fixed(double(count) / 1e6, 0) + QLatin1Char('M');
    if (count >= 1000)
        return fixed(double(count) / 1000, 0) + QLatin1Char('K');
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
