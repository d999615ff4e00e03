#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/model/UsageSnapshot.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// What one provider's summary card shows, as plain values: built from the state, or crafted by a test.
struct ProviderSummaryInput
{
    Provider provider = Provider::codex;
    QDateTime now;
    bool showRemaining = true;
    std::optional<ForecastResult> fiveHour;
    std::optional<UsageSnapshot> fiveHourSnapshot;
    // sevenDay, else weekly.
    std::optional<ForecastResult> longWindow;
    std::optional<UsageSnapshot> longSnapshot;
    // Claude's separate Sonnet limit (carried under weekly) when the long window is sevenDay.
    std::optional<ForecastResult> sonnet;
    std::optional<UsageSnapshot> sonnetSnapshot;
    std::optional<QString> freshness;
    // Demo data: one pill, "demo", and no source or freshness of its own.
    bool demo = false;
    std::optional<QString> headroom;
    QStringList chips;
    // Whether the provider's program was found; a Codex card without it says how to get one.
    bool programFound = true;

    // The forecasts, readings and the newest model chips of one cycle; freshness, headroom and Claude's
    // current-model chips are the caller's to add.
    static ProviderSummaryInput fromBundle(const ForecastBundle& bundle, const AppSettings& settings,
                                           Provider provider, const QDateTime& now);
    // Another account's windows, from its forecasts alone.
    static ProviderSummaryInput fromAccount(const AccountForecasts& account, const AppSettings& settings,
                                            const QDateTime& now);
};

// One usage row: label, bar, percentage and the reset line under it.
struct UsageRowText
{
    QString label;
    double barFraction = 0;
    ColorRole role = ColorRole::neutral;
    QString percent;
    // Empty when the reset time is unknown.
    QString reset;
    // Elapsed share of a long window: where an even pace would stand.
    std::optional<double> idealTick;
    std::optional<QString> trailing;
};

// An outlook line: its symbol and colour come from the status; the run-out tail is drawn in the risky colour.
struct OutlookText
{
    ForecastStatus status = ForecastStatus::noData;
    QString text;
    QString runOut;

    [[nodiscard]] QString plain() const { return text + runOut; }
};

// One window's row of a provider card, with the outlook under it when it has one.
struct CardRow
{
    WindowKind window = WindowKind::fiveHour;
    // "fiveHour", "long" or "sonnet": which of the card's rows this is.
    QString name;
    UsageRowText text;
    std::optional<QDateTime> resetAt;
    std::optional<OutlookText> outlook;
    std::optional<ForecastResult> forecast;
};

// Every text of one provider's card, as the panel and the terminal show it.
struct ProviderCardText
{
    Provider provider = Provider::codex;
    // What the card is headed: the assistant's name, with the label of an account other than its default
    // one ("Claude Code · work").
    QString title;
    // That other account's key; empty for the default account.
    QString account;
    bool demo = false;
    QString sourceTag;
    QString sourceSentence;
    std::optional<QString> freshness;
    std::optional<QString> headroom;
    QStringList chips;
    // The worst status of the rows; absent without any forecast.
    std::optional<ForecastStatus> status;
    // 5-hour, long and Sonnet rows, in that order, those with a reading or forecast.
    QList<CardRow> rows;
    // What a card without rows says brings them.
    QString whatBringsReadings;
};

// The rules that turn the input into the card's texts.
namespace ProviderSummary {

// A model's chips: its name (else its id), "effort: …", "fast" off the standard speed, "thinking".
[[nodiscard]] QStringList chips(const OptionalText& name, const OptionalText& id, const OptionalText& effort,
                                const OptionalText& speed, std::optional<bool> thinking);
// Every text of the card at once.
[[nodiscard]] ProviderCardText card(const ProviderSummaryInput& input);

// What a card without any reading says brings them.
[[nodiscard]] QString whatBringsReadings(Provider provider, bool programFound);

// The worst of the 5-hour, long and Sonnet statuses; absent without any forecast.
[[nodiscard]] std::optional<ForecastStatus> cardStatus(const ProviderSummaryInput& input);
[[nodiscard]] std::optional<UsageRowText> fiveHourRow(const ProviderSummaryInput& input);
[[nodiscard]] std::optional<UsageRowText> longRow(const ProviderSummaryInput& input);
[[nodiscard]] std::optional<UsageRowText> sonnetRow(const ProviderSummaryInput& input);
[[nodiscard]] std::optional<OutlookText> fiveHourOutlook(const ProviderSummaryInput& input);
[[nodiscard]] std::optional<OutlookText> weeklyOutlook(const ProviderSummaryInput& input);
// "42% left" or "58% used"; a negative value shows as 0.
[[nodiscard]] QString percentText(double used, bool showRemaining);
// "Resets 14:05 today"; "Resets in 3h" when no phrase is available; empty without a reset time.
[[nodiscard]] QString resetText(const std::optional<QDateTime>& resetAt, const QDateTime& now);
[[nodiscard]] QString sourceTag(Provider provider);
[[nodiscard]] QString sourceSentence(Provider provider);
// "5-hour range", "7-day range", "Weekly range", "Monthly range", "Range".
[[nodiscard]] QString rangeTitle(WindowKind window);
// "What-ifs · this week" for the long windows, else "What-ifs · 5h".
[[nodiscard]] QString whatIfsTitle(WindowKind window);
// A what-if tile: the run-out or projection, its caption, and the saving or cost (each possibly empty).
[[nodiscard]] QStringList whatIfLines(const ScenarioResult& scenario, bool showRemaining,
                                      const QDateTime& now);

} // namespace ProviderSummary
