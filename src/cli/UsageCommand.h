#pragma once

#include "core/model/Enums.h"
#include "history/UsageTotals.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// `tallyvane usage`: tokens and estimated spend per local day and provider from the assistants'
// transcripts, with totals, or the hour-of-day profile. It runs the application's scan and cache and
// writes nothing else.
namespace UsageCommand {

struct Options
{
    bool json = false;
    bool hourly = false;
    std::optional<QDate> since; // default: the history's lookback
    std::optional<QDate> until; // default: today
    std::optional<Provider> provider;
    bool byMachine = false;
};

[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);

// The report over [since, until] of scanned totals, in the zone they were counted in.
struct Report
{
    QDate since;
    QDate until;
    // Every machine's summed; with other machines, each machine's part too, this one first.
    UsageTotals totals;
    QList<std::pair<QString, UsageTotals>> machines;
    std::optional<Provider> provider;
};

// With `machineParts`, and other machines, each machine's rows apart.
[[nodiscard]] QString renderText(const Report& report, bool hourly, bool machineParts = false);
[[nodiscard]] QByteArray renderJson(const Report& report, bool hourly);

int run(const Options& options);

// "1,234,567" and "12.34": fixed forms for reports, whatever the locale.
QString grouped(qint64 value);
QString cents(double usd);

} // namespace UsageCommand
