#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/ForecastModels.h"
#include "history/ClaudeEstimator.h"

#include <QDateTime>
#include <QList>
#include <QMap>

#include <optional>

class ClaudeFiles;
class UsageHistory;

// The enrichment steps of one compute cycle, in the order the cycle runs them. They read the working
// snapshots through the cycle's series (never the whole log) and the transcript history; only the
// estimator's and the effort calibration's files are written, through `ClaudeFiles`.
namespace ComputeSteps {

// The tokens-since counts of the history (nothing while a count is still being made); none without one.
// `account`: another Claude account's key (its own transcripts); empty: the default account's.
[[nodiscard]] ClaudeTokenCount tokenCount(UsageHistory* history, const QString& account = {});

// The Claude snapshots of the working list stamped at or after `from`, in list order.
[[nodiscard]] QList<UsageSnapshot> claudeSince(const ForecastBundle& bundle, const QDateTime& from);

// Anchors Claude's windows from fresh live readings and returns the estimates for windows without one.
[[nodiscard]] QList<UsageSnapshot> augmentClaude(const ForecastBundle& bundle, const ClaudeTokenCount& tokens,
                                                 ClaudeFiles& files, const QDateTime& now);
// Appends estimates to the working list and to their series (a series of their own when new).
void appendEstimates(ForecastBundle& bundle, const QList<UsageSnapshot>& estimates);

// The bridge's meta file merged with the newest transcript model.
[[nodiscard]] std::optional<ClaudeEstimator::CurrentSettings> currentClaudeSettings(UsageHistory* history,
                                                                                    const ClaudeFiles& files);

// Teaches the effort rates from the two newest status-line weekly readings.
void learnEffort(const ForecastBundle& bundle, const ClaudeTokenCount& tokens, ClaudeFiles& files,
                 const QDateTime& now);

// What the long-window steps make of one provider's long window.
struct LongWindow
{
    ForecastResult forecast;
    PaceResult pace;
    std::optional<CalibratedProjection> calibrated;
};

// Pace, then the effort scale, the history calibration (not in demo mode), the smart-basis override and
// the weekly status rule, on a copy of `forecast`.
[[nodiscard]] LongWindow longWindow(const ForecastBundle& bundle, const ForecastResult& forecast,
                                    const UsageSnapshot& latest, const AppSettings& settings,
                                    UsageHistory* history, const ClaudeFiles* files, const QDateTime& now);

// The long window that speaks for a provider: its seven-day window when it has one (the Sonnet-only
// weekly limit must not stand in for the account's), else its weekly one.
[[nodiscard]] bool speaksForProvider(WindowKind window, const QList<WindowKind>& windows);

// Each other Claude account between its live readings: its fresh readings anchor its own files (the
// data folder's accounts/<key>/), its own transcripts give the estimates appended to its series.
void estimateOtherClaudeAccounts(
    QMap<std::tuple<Provider, QString, WindowKind>, QList<UsageSnapshot>>& readings, UsageHistory* history,
    const ClaudeFiles& files, const QDateTime& now);

// Every account of an assistant that has readings of another account than its default one (the default
// first, without forecasts of its own here), and the other accounts' forecasts from their readings: the
// forecast of each window, with the weekly status rule on the long ones (pace, calibration and estimates are
// the default account's for now).
[[nodiscard]] QList<AccountForecasts>
otherAccounts(const QMap<std::tuple<Provider, QString, WindowKind>, QList<UsageSnapshot>>& readings,
              const AppSettings& settings, const QDateTime& now);

} // namespace ComputeSteps
