#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/ForecastModels.h"
#include "core/model/ProviderHealth.h"
#include "history/UsageTotals.h"
#include "providers/claude/ClaudeBridgeStatus.h"
#include "providers/claude/ClaudeUsageAnswer.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>
#include <vector>

// The questions of published state that produce words: what-ifs, freshness, spend, trend, busy hours,
// bedtime, the weekly recap, the overage card's lines and the redacted diagnostics. The application state
// and the command line both ask them; none changes anything. A null history counts as an empty one.
namespace StateReports {

struct WeekTrend
{
    qint64 thisWeek = 0;
    // Against the week before; only when that week had at least 100,000 tokens and is not dwarfed (this
    // week at most 20 times it).
    std::optional<double> deltaPct;
    // The last four 7-day totals, oldest first.
    std::vector<qint64> weeks;

    friend bool operator==(const WeekTrend&, const WeekTrend&) = default;
};

// Claude's paid overage as the panel's card shows it, in the account's own currency.
struct OverageReport
{
    QString usedText;                  // "£12.34 used"
    std::optional<QString> budgetLine; // "£12.34 of £50 budget · 25%"
    std::optional<double> budgetShare; // 0.25; absent without a budget
    std::optional<QString> note;       // without a budget: why to set one

    friend bool operator==(const OverageReport&, const OverageReport&) = default;
};

[[nodiscard]] QList<ScenarioResult> scenarios(const ForecastBundle& bundle, Provider provider,
                                              WindowKind window, const QDateTime& now);

// "demo", "live", "as of 10m ago" (Codex), "synced 25m ago" or "estimated" (Claude); absent with no data.
[[nodiscard]] std::optional<QString> freshnessLabel(const ForecastBundle& bundle, const AppSettings& settings,
                                                    Provider provider, const QDateTime& now);
[[nodiscard]] std::optional<QString> headroomLabel(const ForecastBundle& bundle, Provider provider);

[[nodiscard]] QString spendThisWeek(const UsageTotals* history, const AppSettings& settings,
                                    Provider provider, const QDateTime& now);
[[nodiscard]] QString spendThisWeekTotal(const UsageTotals* history, const AppSettings& settings,
                                         const QDateTime& now);
[[nodiscard]] WeekTrend weekTrend(const UsageTotals* history, Provider provider, const QDateTime& now);
// "20:00–00:00": the busiest four local hours.
[[nodiscard]] std::optional<QString> peakUsageWindowLabel(const UsageTotals* history);
// "%02d:00–%02d:00" of a span's start and end hour, the end modulo 24 ("22:00–02:00" for 22 to 26).
[[nodiscard]] QString hourSpanLabel(int start, int end);
// Seconds until the next bedtime of an enabled sleep schedule.
[[nodiscard]] std::optional<double> timeUntilBedtime(const AppSettings& settings, const QDateTime& now);

// "Codex: 42% of weekly used, heaviest 05-10. Claude Code: …"; empty without weekly forecasts.
[[nodiscard]] QString weeklyRecapText(const ForecastBundle& bundle, const UsageTotals* history,
                                      const AppSettings& settings, const QDateTime& now);

// Absent unless overage is enabled and something was spent or a budget is set.
[[nodiscard]] std::optional<OverageReport> overage(const std::optional<ClaudeExtraUsage>& extra,
                                                   const AppSettings& settings);

struct DiagnosticsInputs
{
    AppSettings settings;
    std::optional<QDateTime> lastRefresh;
    QMap<Provider, ProviderHealth> providerHealth;
    QMap<QString, ForecastResult> forecasts;
    // Where the Codex provider found its program; empty when it did not.
    QString codexPath;
    ClaudeBridgeStatus bridge;
    std::optional<QString> lastError;
    // Replaced by "~" wherever it appears.
    QString homePath;
};
[[nodiscard]] QString diagnosticsText(const DiagnosticsInputs& inputs);
// E-mail addresses, key-like words and authorisation links as the log scrubs them, and the home folder.
[[nodiscard]] QString scrubbed(const QString& text, const QString& homePath);

} // namespace StateReports
