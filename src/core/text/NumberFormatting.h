#pragma once

#include <QString>

#include <optional>

// Every user-facing number goes through here. Nothing here follows the process locale: a German desktop
// still reads "14.3%", as every stored value and documented text is written.
namespace NumberFormatting {

// Stands for an absent or non-finite number in every text.
inline const QString dash = QStringLiteral("\u2014");

// The whole number every face shows for a figure: halves away from zero (47.5 is 48), never -0.
double rounded(double value);
QString percent(std::optional<double> value);      // "42%", rounded as above
QString signedPoints(std::optional<double> value); // "+12pp", "-8pp"
QString money(bool gbp, double usd);               // "$12.34", "£158"
QString tokens(qint64 count);                      // "1.2B", "34M", "5K", "999"
// What goes before an amount in a currency: "£" (GBP, also when none is named), "$" (USD), "€" (EUR);
// any other code followed by a space ("CHF ").
QString currencyPrefix(QStringView code);

// `decimals` digits after the point, rounded as printf's "%.*f" rounds (an exact tie goes to the even
// digit: 0.125 gives "0.12"); dash when not finite.
QString fixed(double value, int decimals);

} // namespace NumberFormatting
