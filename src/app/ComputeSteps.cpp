#include "app/ComputeSteps.h"

#include "app/RangeChartData.h"
#include "core/forecast/CalibratedForecast.h"
#include "core/forecast/ForecastEngine.h"
#include "core/forecast/ForecastMath.h"
#include "core/forecast/PaceCalculator.h"
#include "core/io/AccountList.h"
#include "history/ClaudeEffortCalibration.h"
#include "history/ClaudeFiles.h"
#include "history/HistoryCalibration.h"
#include "history/UsageHistory.h"
#include "providers/AccountFolders.h"

#include <algorithm>
#include <iterator>

namespace ComputeSteps {

namespace {

// Walks one series from its newest snapshot back, handing each to `visit` until it returns false.
template <typename Visit>
void walkBack(const ForecastBundle& bundle, const WorkingSeries& series, Visit visit)
{
    for (qsizetype i = series.positions.size() - 1; i >= 0; --i)
        if (!visit(series.positions[i], bundle.snapshots[series.positions[i]]))
            return;
}

bool isStatusLineWithEffort(const UsageSnapshot& s)
{
    return s.provider == Provider::claude && s.source == QLatin1StringView("claude.statusline") &&
           s.effortLevel.has_value();
}

} // namespace

ClaudeTokenCount tokenCount(UsageHistory* history, const QString& account)
{
    if (!history)
        return {};
    return
        [history, account](const QDateTime& since) { return history->countedClaudeTokens(since, account); };
}

void estimateOtherClaudeAccounts(
    QMap<std::tuple<Provider, QString, WindowKind>, QList<UsageSnapshot>>& readings, UsageHistory* history,
    const ClaudeFiles& files, const QDateTime& now)
{
    QStringList keys;
    for (auto it = readings.cbegin(); it != readings.cend(); ++it)
        if (std::get<0>(it.key()) == Provider::claude && !keys.contains(std::get<1>(it.key())))
            keys.append(std::get<1>(it.key()));
    const QDateTime from = now.addSecs(-ClaudeEstimator::freshSeconds);
    for (const QString& key : std::as_const(keys)) {
        QList<UsageSnapshot> recent;
        for (auto it = readings.cbegin(); it != readings.cend(); ++it)
            if (std::get<0>(it.key()) == Provider::claude && std::get<1>(it.key()) == key)
                for (const UsageSnapshot& s : it.value())
                    if (!(s.timestamp < from))
                        recent.append(s);
        std::stable_sort(recent.begin(), recent.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
            return a.timestamp < b.timestamp;
        });
        const auto own = ClaudeFiles::forAccount(files, key);
        for (const UsageSnapshot& e :
             ClaudeEstimator::augmentClaude(recent, tokenCount(history, key), *own, now))
            readings[{Provider::claude, key, e.windowKind}].append(e);
    }
}

QList<UsageSnapshot> claudeSince(const ForecastBundle& bundle, const QDateTime& from)
{
    QList<qsizetype> positions;
    for (const WorkingSeries& series : bundle.series) {
        if (series.key.first != Provider::claude)
            continue;
        walkBack(bundle, series, [&](qsizetype position, const UsageSnapshot& s) {
            if (s.timestamp < from)
                return false;
            positions.append(position);
            return true;
        });
    }
    std::sort(positions.begin(), positions.end());
    QList<UsageSnapshot> result;
    result.reserve(positions.size());
    for (qsizetype position : std::as_const(positions))
        result.append(bundle.snapshots[position]);
    return result;
}

QList<UsageSnapshot> augmentClaude(const ForecastBundle& bundle, const ClaudeTokenCount& tokens,
                                   ClaudeFiles& files, const QDateTime& now)
{
    // Only readings of the last 20 minutes calibrate or hold back an estimate.
    const QList<UsageSnapshot> recent = claudeSince(bundle, now.addSecs(-ClaudeEstimator::freshSeconds));
    return ClaudeEstimator::augmentClaude(recent, tokens, files, now);
}

void appendEstimates(ForecastBundle& bundle, const QList<UsageSnapshot>& estimates)
{
    for (const UsageSnapshot& e : estimates) {
        const qsizetype position = bundle.snapshots.size();
        bundle.snapshots.append(e);
        const SeriesKey key{e.provider, e.windowKind};
        auto it = std::find_if(bundle.series.begin(), bundle.series.end(),
                               [&](const WorkingSeries& s) { return s.key == key; });
        if (it == bundle.series.end()) {
            // After the last series of the same display rank: queries list series by rank, then by first
            // appearance, and the estimate appears last.
            auto at = bundle.series.begin();
            for (auto s = bundle.series.begin(); s != bundle.series.end(); ++s)
                if (displayRank(s->key.second) <= displayRank(key.second))
                    at = s + 1;
            it = bundle.series.insert(at, WorkingSeries{key, {}});
        }
        const bool inOrder =
            it->positions.isEmpty() || !(e.timestamp < bundle.snapshots[it->positions.last()].timestamp);
        it->positions.append(position);
        if (!inOrder) {
            const SnapshotLog& log = bundle.snapshots;
            it->positions.stableSort(
                [&log](qsizetype a, qsizetype b) { return log[a].timestamp < log[b].timestamp; });
        }
    }
}

std::optional<ClaudeEstimator::CurrentSettings> currentClaudeSettings(UsageHistory* history,
                                                                      const ClaudeFiles& files)
{
    const auto meta = ClaudeEstimator::loadMeta(files);
    return ClaudeEstimator::mergingCurrentModel(meta, history ? history->latestClaudeModel() : std::nullopt);
}

void learnEffort(const ForecastBundle& bundle, const ClaudeTokenCount& tokens, ClaudeFiles& files,
                 const QDateTime& now)
{
    // The two newest readings that qualify are all learning looks at.
    QList<UsageSnapshot> candidates;
    for (const WorkingSeries& series : bundle.series) {
        if (series.key != SeriesKey{Provider::claude, WindowKind::sevenDay})
            continue;
        walkBack(bundle, series, [&](qsizetype, const UsageSnapshot& s) {
            if (isStatusLineWithEffort(s) && !ClaudeEstimator::isFromTheFuture(s, now))
                candidates.prepend(s);
            return candidates.size() < 2;
        });
    }
    ClaudeEffortCalibration::learn(candidates, tokens, files, now);
}

bool speaksForProvider(WindowKind window, const QList<WindowKind>& windows)
{
    if (window == WindowKind::sevenDay)
        return true;
    return window == WindowKind::weekly && !windows.contains(WindowKind::sevenDay);
}

LongWindow longWindow(const ForecastBundle& bundle, const ForecastResult& forecast,
                      const UsageSnapshot& latest, const AppSettings& settings, UsageHistory* history,
                      const ClaudeFiles* files, const QDateTime& now)
{
    LongWindow out{forecast,
                   PaceCalculator::pace(latest, settings.weeklyDailyTargetPercent, settings.sleep, now),
                   std::nullopt};
    // A window past its reset has nothing of this week's to calibrate.
    if (!settings.demoMode && history && !ForecastMath::resetPassed(latest.resetAt, now)) {
        double scale = 1;
        if (files && forecast.provider == Provider::claude) {
            // The newest status-line reading with an effort, of any Claude window.
            QList<UsageSnapshot> newest;
            for (const WorkingSeries& series : bundle.series)
                if (series.key.first == Provider::claude)
                    walkBack(bundle, series, [&](qsizetype, const UsageSnapshot& s) {
                        if (!isStatusLineWithEffort(s))
                            return true;
                        newest.append(s);
                        return false;
                    });
            scale =
                ClaudeEffortCalibration::effortScale(forecast.provider, newest, bundle.claudeCurrent, *files);
        }
        const auto totals = history->totals();
        out.calibrated = HistoryCalibration::project(*totals, forecast.provider, latest, scale, now);
        if (out.calibrated && settings.forecastBasis == ForecastBasis::smart)
            out.forecast = CalibratedForecast::apply(out.forecast, *out.calibrated, now);
    }
    out.forecast = CalibratedForecast::applyWeeklyStatus(out.forecast);
    return out;
}

QList<AccountForecasts>
otherAccounts(const QMap<std::tuple<Provider, QString, WindowKind>, QList<UsageSnapshot>>& readings,
              const AppSettings& settings, const QDateTime& now)
{
    QList<AccountForecasts> accounts;
    if (readings.isEmpty())
        return accounts;
    // Labels and folders as the folders tell them now; an account no longer watched keeps its key.
    QList<AccountFolders::Account> known;
    const QList<AccountFolder> added = AccountList::load();
    for (Provider provider : allProviders)
        known += AccountFolders::accounts(provider, added);
    const auto rank = [&](const AccountForecasts& a) {
        const auto it = std::find_if(known.cbegin(), known.cend(), [&](const AccountFolders::Account& k) {
            return k.folder.provider == a.provider && k.key == a.key;
        });
        return std::pair(int(a.provider), it == known.cend() ? known.size() : it - known.cbegin());
    };
    for (auto it = readings.cbegin(); it != readings.cend(); ++it) {
        const auto& [provider, key, window] = it.key();
        if (accounts.isEmpty() || accounts.last().provider != provider || accounts.last().key != key) {
            AccountForecasts account{false, provider, key, key, {}, {}, {}, {}};
            for (const AccountFolders::Account& k : std::as_const(known)) {
                if (k.folder.provider == provider && k.key == key) {
                    account.label = k.label;
                    account.folder = k.folder.folder;
                    account.labelFromEmail = k.label != AccountFolders::label(k.folder, std::nullopt);
                }
            }
            accounts.append(account);
        }
        QList<UsageSnapshot> series = it.value();
        std::stable_sort(series.begin(), series.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
            return a.timestamp < b.timestamp;
        });
        ForecastResult result =
            ForecastEngine::forecast(provider, window, series, settings.forecastBasis, settings.sleep, now);
        accounts.last().forecasts.append(isLongWindow(window) ? CalibratedForecast::applyWeeklyStatus(result)
                                                              : result);
        accounts.last().latest.append(series.last());
        const std::optional<QDateTime> start = RangeChartData::currentWindowStart(result, series.last());
        QList<UsageSnapshot> current;
        std::copy_if(series.cbegin(), series.cend(), std::back_inserter(current),
                     [&](const UsageSnapshot& s) { return !start || s.timestamp >= *start; });
        accounts.last().readings.append(current.isEmpty() ? QList<UsageSnapshot>{series.last()} : current);
    }
    const auto byRank = [](const auto& a, const auto& b) {
        return displayRank(a.windowKind) < displayRank(b.windowKind);
    };
    for (AccountForecasts& account : accounts) {
        std::stable_sort(account.forecasts.begin(), account.forecasts.end(), byRank);
        std::stable_sort(account.latest.begin(), account.latest.end(), byRank);
        std::stable_sort(account.readings.begin(), account.readings.end(),
                         [&](const auto& a, const auto& b) { return byRank(a.last(), b.last()); });
    }
    for (Provider provider : allProviders) {
        const auto first = std::find_if(known.cbegin(), known.cend(), [&](const AccountFolders::Account& k) {
            return k.folder.provider == provider && k.folder.isDefault;
        });
        const bool others = std::any_of(accounts.cbegin(), accounts.cend(),
                                        [&](const AccountForecasts& a) { return a.provider == provider; });
        if (first != known.cend() && others && settings.enabledProviders.contains(provider))
            accounts.append({true,
                             provider,
                             first->key,
                             first->label,
                             first->folder.folder,
                             {},
                             {},
                             {},
                             first->label != AccountFolders::label(first->folder, std::nullopt)});
    }
    std::stable_sort(accounts.begin(), accounts.end(),
                     [&](const AccountForecasts& a, const AccountForecasts& b) { return rank(a) < rank(b); });
    return accounts;
}

} // namespace ComputeSteps
