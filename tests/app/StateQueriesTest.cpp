#include "app/StateQueries.h"

#include "AppTestSupport.h"

#include <gtest/gtest.h>

using namespace AppTest;

namespace {

using P = Provider;
using W = WindowKind;
using S = ForecastStatus;

TEST(StateQueries, GlobalStatusFoldsToTheWorst)
{
    const std::pair<QList<ForecastResult>, ForecastStatus> rows[] = {
        {{}, S::noData},
        {{forecast(P::claude, W::fiveHour, 1, S::unknown), forecast(P::codex, W::fiveHour, 1, S::safe)},
         S::safe},
        {{forecast(P::claude, W::fiveHour, 1, S::watch), forecast(P::claude, W::sevenDay, 1, S::limited),
          forecast(P::codex, W::fiveHour, 1, S::limitLikely)},
         S::limited},
        // Equal rank: the first in key order stays ("claude-…" before "codex-…").
        {{forecast(P::claude, W::fiveHour, 1, S::unknown), forecast(P::codex, W::fiveHour, 1, S::noData)},
         S::unknown},
    };
    for (const auto& [forecasts, expected] : rows)
        EXPECT_EQ(StateQueries::globalStatus(keyed(forecasts)), expected) << rawValue(expected).toStdString();
}

TEST(StateQueries, MostUrgentSeriesIsTheClosestToRunningOut)
{
    struct UrgentCase
    {
        const char* name;
        QList<UsageSnapshot> snapshots;
        QList<ForecastResult> forecasts;
        std::optional<SeriesKey> expected;
    };
    const UrgentCase rows[] = {
        UrgentCase{"ExhaustedBeatsRunOut",
                   {snap(P::codex, W::sevenDay, 10, 50), snap(P::claude, W::fiveHour, 10, 100)},
                   {forecast(P::codex, W::sevenDay, 50, S::risky, 3'600, kNow.addSecs(3'600)),
                    forecast(P::claude, W::fiveHour, 100, S::limited)},
                   SeriesKey{P::claude, W::fiveHour}},
        UrgentCase{
            "NoRunOutNoneUnderLimit",
            {snap(P::codex, W::fiveHour, 10, 90), snap(P::claude, W::fiveHour, 10, 99)},
            {forecast(P::codex, W::fiveHour, 90, S::risky), forecast(P::claude, W::fiveHour, 99, S::watch)},
            std::nullopt},
        UrgentCase{"SoonestRunOutWins",
                   {snap(P::codex, W::fiveHour, 10, 50), snap(P::claude, W::sevenDay, 10, 50)},
                   {forecast(P::codex, W::fiveHour, 50, S::limitLikely, 7'200, kNow.addSecs(7'200)),
                    forecast(P::claude, W::sevenDay, 50, S::risky, 3'600, kNow.addSecs(3'600))},
                   SeriesKey{P::claude, W::sevenDay}},
        UrgentCase{"RunOutInThePastIsMostUrgent",
                   {snap(P::codex, W::fiveHour, 10, 50), snap(P::claude, W::fiveHour, 10, 50)},
                   {forecast(P::codex, W::fiveHour, 50, S::risky, 60, kNow.addSecs(60)),
                    forecast(P::claude, W::fiveHour, 50, S::risky, std::nullopt, kNow.addSecs(-60))},
                   SeriesKey{P::claude, W::fiveHour}},
        UrgentCase{"EqualScoresFirstAvailableSeriesWins",
                   {snap(P::claude, W::sevenDay, 10, 100), snap(P::codex, W::fiveHour, 10, 100)},
                   {forecast(P::claude, W::sevenDay, 100, S::limited),
                    forecast(P::codex, W::fiveHour, 100, S::limited)},
                   SeriesKey{P::codex, W::fiveHour}},
        UrgentCase{"SeriesWithoutForecastIgnored", {snap(P::codex, W::fiveHour, 10, 100)}, {}, std::nullopt},
        // A corrupt reading (NaN remaining) must not hide a real run-out behind it.
        UrgentCase{"NonFiniteScoreRanksLast",
                   {snap(P::codex, W::fiveHour, 10, 50), snap(P::claude, W::fiveHour, 10, 50)},
                   {[] {
                        ForecastResult f = forecast(P::codex, W::fiveHour, 50, S::watch);
                        f.currentRemainingPercent = std::numeric_limits<double>::quiet_NaN();
                        return f;
                    }(),
                    forecast(P::claude, W::fiveHour, 50, S::risky, 600, kNow.addSecs(600))},
                   SeriesKey{P::claude, W::fiveHour}},
    };
    for (const UrgentCase& c : rows)
        EXPECT_EQ(StateQueries::mostUrgentSeries(bundleOf(c.snapshots).series, keyed(c.forecasts), kNow),
                  c.expected)
            << c.name;
}

TEST(AvailableSeries, FiveHourFirstThenByFirstAppearance)
{
    const QList<UsageSnapshot> snapshots{
        snap(P::claude, W::monthly, 1, 1),  snap(P::codex, W::sevenDay, 1, 1),
        snap(P::claude, W::fiveHour, 1, 1), snap(P::codex, W::unknown, 1, 1),
        snap(P::claude, W::weekly, 1, 1),   snap(P::codex, W::fiveHour, 1, 1),
        snap(P::claude, W::fiveHour, 2, 1)};
    const QList<SeriesKey> expected{{P::claude, W::fiveHour}, {P::codex, W::fiveHour},
                                    {P::codex, W::sevenDay},  {P::claude, W::weekly},
                                    {P::claude, W::monthly},  {P::codex, W::unknown}};
    EXPECT_EQ(StateQueries::availableSeries(bundleOf(snapshots).series), expected);
}

TEST(SeriesAndLatest, SortStablyAndBreakTiesTowardsTheEarlierEntry)
{
    UsageSnapshot a = snap(P::codex, W::fiveHour, 60, 10);
    UsageSnapshot b = snap(P::codex, W::fiveHour, 0, 20);
    UsageSnapshot c = snap(P::codex, W::fiveHour, 0, 30); // same instant as b, later in the list
    UsageSnapshot other = snap(P::claude, W::fiveHour, 0, 99);
    const ForecastBundle bundle = bundleOf({b, other, c, a});
    const auto series = StateQueries::series(bundle.snapshots, bundle.series, P::codex, W::fiveHour);
    ASSERT_EQ(series.size(), 3);
    EXPECT_EQ(series[0].id, a.id);
    EXPECT_EQ(series[1].id, b.id);
    EXPECT_EQ(series[2].id, c.id);

    EXPECT_EQ(StateQueries::latestSnapshot(bundle.snapshots, bundle.series, P::codex, W::fiveHour)->id, b.id);
    EXPECT_FALSE(StateQueries::latestSnapshot(bundle.snapshots, bundle.series, P::codex, W::sevenDay));
    EXPECT_FALSE(StateQueries::forecast({}, P::codex, W::fiveHour).has_value());
}

TEST(SortedEnabledProviders, AlwaysCodexFirst)
{
    AppSettings settings;
    settings.enabledProviders = {P::claude, P::codex};
    EXPECT_EQ(StateQueries::sortedEnabledProviders(settings), (QList<Provider>{P::codex, P::claude}));
    settings.enabledProviders = {P::claude};
    EXPECT_EQ(StateQueries::sortedEnabledProviders(settings), QList<Provider>{P::claude});
}

} // namespace
