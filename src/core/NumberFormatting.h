#pragma once

#include <QString>

#include <optional>

// Every user-facing number goes through here; "—" stands for an absent or non-finite number.
namespace NumberFormatting {

QString percent(std::optional<double> value);      // "42%"
QString signedPoints(std::optional<double> value); // "+12pp", "-8pp"
QString money(bool gbp, double usd);               // "$12.34", "£158"
QString tokens(qint64 count);                      // "1.2B", "34M", "5K", "999"
// What goes before an amount in a currency: "£" (GBP, also when none is named), "$" (USD), "€" (EUR);
// any other code followed by a space ("CHF ").
QString currencyPrefix(QStringView code);

} // namespace NumberFormatting
