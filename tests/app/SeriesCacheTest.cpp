#include "app/SeriesCache.h"

#include "AppTestSupport.h"
#include "core/forecast/ForecastEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace AppTest;

namespace {

using P = Provider;
using W = WindowKind;

struct Reading
{
    Provider provider;
    WindowKind window;
    int minute; // relative to kNow
    double used;
    int resetMinute; // relative to kNow
};

UsageSnapshot make(const Reading& r)
{
    return TestSupport::reading(r.provider, r.window, kNow.addSecs(qint64(r.minute) * 60), r.used,
                                kNow.addSecs(qint64(r.resetMinute) * 60));
}

enum class Op
{
    append,
    dropFront,
    setEnabled,
    setIgnoreAfter
};

struct Step
{
    Op op;
    QList<Reading> readings; // append
    int count = 0;           // dropFront
    QSet<Provider> enabled{P::codex, P::claude};
    std::optional<int> ignoreAfterMinute;
    bool incremental = false;
};

Step append(QList<Reading> readings, bool incremental)
{
    Step s{Op::append, std::move(readings), 0, {P::codex, P::claude}, std::nullopt, incremental};
    return s;
}
Step dropFront(int count, bool incremental)
{
    return Step{Op::dropFront, {}, count, {P::codex, P::claude}, std::nullopt, incremental};
}
Step enable(QSet<Provider> providers, bool incremental)
{
    return Step{Op::setEnabled, {}, 0, std::move(providers), std::nullopt, incremental};
}
Step ignoreAfter(int minute, bool incremental)
{
    return Step{Op::setIgnoreAfter, {}, 0, {P::codex, P::claude}, minute, incremental};
}

// After every step the kept series must forecast exactly like the whole series, for every basis.
void expectForecastsLikeTheWholeSeries(const QList<Step>& steps)
{
    SeriesCache cache;
    QList<UsageSnapshot> stored;
    QSet<Provider> enabled{P::codex, P::claude};
    std::optional<QDateTime> ignoreAfter;
    int stepIndex = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(stepIndex++);
        switch (step.op) {
        case Op::append:
            for (const Reading& r : step.readings)
                stored.append(make(r));
            break;
        case Op::dropFront:
            stored = stored.mid(step.count);
            break;
        case Op::setEnabled:
            enabled = step.enabled;
            break;
        case Op::setIgnoreAfter:
            ignoreAfter = kNow.addSecs(qint64(*step.ignoreAfterMinute) * 60);
            break;
        }
        cache.update(stored, enabled, ignoreAfter);
        EXPECT_EQ(cache.lastUpdateWasIncremental(), step.incremental);

        QList<UsageSnapshot> working;
        for (const UsageSnapshot& s : stored)
            if (enabled.contains(s.provider) && !(ignoreAfter && s.timestamp > *ignoreAfter))
                working.append(s);
        EXPECT_EQ(cache.working(stored), working);
        // What the queries read: each series once in display order, its positions in time order.
        QList<UsageSnapshot> byRank = working;
        std::stable_sort(byRank.begin(), byRank.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
            return displayRank(a.windowKind) < displayRank(b.windowKind);
        });
        QList<SeriesKey> keys;
        for (const UsageSnapshot& s : byRank)
            if (!keys.contains(SeriesKey{s.provider, s.windowKind}))
                keys.append({s.provider, s.windowKind});
        const QList<WorkingSeries> published = cache.published();
        ASSERT_EQ(published.size(), keys.size());
        for (qsizetype k = 0; k < keys.size(); ++k) {
            EXPECT_EQ(published[k].key, keys[k]);
            QList<UsageSnapshot> inTimeOrder;
            for (const UsageSnapshot& s : working)
                if (SeriesKey{s.provider, s.windowKind} == keys[k])
                    inTimeOrder.append(s);
            std::stable_sort(
                inTimeOrder.begin(), inTimeOrder.end(),
                [](const UsageSnapshot& a, const UsageSnapshot& b) { return a.timestamp < b.timestamp; });
            QList<UsageSnapshot> indexed;
            for (qsizetype i = 0; i < published[k].positions.size(); ++i)
                indexed.append(working.at(published[k].positions[i]));
            EXPECT_EQ(indexed, inTimeOrder);
        }
        for (Provider p : allProviders) {
            QList<WindowKind> firstSeen;
            for (const UsageSnapshot& s : working)
                if (s.provider == p && !firstSeen.contains(s.windowKind))
                    firstSeen.append(s.windowKind);
            // As vectors: Qt 6.4 compares two empty lists of enums through memcmp with a null pointer.
            const QList<WindowKind> windows = cache.windows(p);
            EXPECT_EQ(std::vector(windows.begin(), windows.end()),
                      std::vector(firstSeen.begin(), firstSeen.end()));
            for (WindowKind w : allWindowKinds) {
                QList<UsageSnapshot> whole;
                for (const UsageSnapshot& s : working)
                    if (s.provider == p && s.windowKind == w)
                        whole.append(s);
                EXPECT_EQ(cache.series(p, w).isEmpty(), whole.isEmpty());
                for (ForecastBasis basis : allForecastBases) {
                    EXPECT_EQ(ForecastEngine::forecast(p, w, cache.series(p, w), basis, std::nullopt, kNow),
                              ForecastEngine::forecast(p, w, whole, basis, std::nullopt, kNow))
                        << rawValue(p).toStdString() << "-" << rawValue(w).toStdString() << " "
                        << rawValue(basis).toStdString();
                }
            }
        }
    }
}

// A five-hour window filling up, a reset (sharp drop) and the next window starting.
const QList<Reading> kFirstWindow{{P::codex, W::fiveHour, -300, 10, -120},
                                  {P::codex, W::fiveHour, -240, 30, -120},
                                  {P::codex, W::fiveHour, -180, 55, -120},
                                  {P::codex, W::fiveHour, -130, 77, -120}};
const QList<Reading> kSecondWindow{{P::codex, W::fiveHour, -110, 6, 180},
                                   {P::codex, W::fiveHour, -60, 20, 180},
                                   {P::claude, W::sevenDay, -50, 40, 2'000},
                                   {P::codex, W::fiveHour, -20, 31, 180}};

// Thousands of five-hour windows' readings, more than the cache takes before trimming, then a late reading
// that bridges the last reset within the same update.
QList<Reading> longHistoryWithALateReading()
{
    QList<Reading> readings;
    for (int i = 0; i < 5'000; ++i)
        readings.append(
            {P::codex, W::fiveHour, -100'000 + i * 10, double(i % 30) * 3, -100'000 + (i / 30 + 1) * 300});
    readings += QList<Reading>{{P::codex, W::fiveHour, -200, 50, 100},
                               {P::codex, W::fiveHour, -100, 77, 100},
                               {P::codex, W::fiveHour, -40, 63, 100},
                               {P::codex, W::fiveHour, -70, 70, 100}};
    return readings;
}

TEST(SeriesCache, ForecastsLikeTheWholeSeries)
{
    const std::pair<const char*, QList<Step>> rows[] = {
        {"AppendsAcrossAReset",
         {append(kFirstWindow, false), append(kSecondWindow, true),
          append({{P::codex, W::fiveHour, 0, 40, 180}}, true), append({}, true)}},
        // 77 → 63 is a reset; 70 arriving late between them bridges it (two drops of 7): the whole history
        // counts again, so what was trimmed must come back.
        {"LateSnapshotBridgesAReset",
         {append({{P::codex, W::fiveHour, -200, 50, 100},
                  {P::codex, W::fiveHour, -100, 77, 100},
                  {P::codex, W::fiveHour, -40, 63, 100},
                  {P::codex, W::fiveHour, -10, 66, 100}},
                 false),
          append({{P::codex, W::fiveHour, -70, 70, 100}}, false),
          append({{P::codex, W::fiveHour, 0, 68, 100}}, true)}},
        // A reset time moving by more than ten minutes starts a new window even while usage rises.
        {"ResetTimeJump",
         {append({{P::claude, W::fiveHour, -90, 10, 30}, {P::claude, W::fiveHour, -60, 20, 30}}, false),
          append({{P::claude, W::fiveHour, -30, 25, 60}, {P::claude, W::fiveHour, 0, 30, 60}}, true)}},
        // Pruning rewrites the log: the list no longer extends the old one.
        {"PruneStartsOver",
         {append(kFirstWindow + kSecondWindow, false), dropFront(3, false),
          append({{P::codex, W::fiveHour, 0, 40, 180}}, true)}},
        {"DisablingAProviderFilters",
         {append(kFirstWindow + kSecondWindow, false), enable({P::claude}, false),
          append({{P::codex, W::fiveHour, 0, 40, 180}, {P::claude, W::sevenDay, 0, 41, 2'000}}, true)}},
        {"LongHistoryThenALateReading", {append(longHistoryWithALateReading(), false)}},
        {"ReplayCutsLaterSnapshots",
         {ignoreAfter(-100, false), append(kFirstWindow + kSecondWindow, false),
          append({{P::codex, W::fiveHour, -30, 45, 180}}, true)}}};
    for (const auto& [name, steps] : rows) {
        SCOPED_TRACE(name);
        expectForecastsLikeTheWholeSeries(steps);
    }
}

// The store's log grows by sharing its chunks: the cache must still tell an append from a rewrite, both
// where the chunks are shared and past them.
TEST(SeriesCache, SharedLogGrowthIsIncrementalAndARewrittenTailIsNot)
{
    constexpr qsizetype kCap = SnapshotLog::chunkCapacity;
    SnapshotLog stored;
    for (qsizetype i = 0; i < kCap - 1; ++i)
        stored.append(make({P::codex, W::fiveHour, int(i % 200) - 300, double(i % 90), 100'000}));
    const QSet<Provider> both{P::codex, P::claude};
    struct Row
    {
        const char* name;
        std::function<void(SnapshotLog&)> change;
        bool incremental;
    };
    const Row rows[] = {
        {"one more, filling the first chunk",
         [](SnapshotLog& log) {
             const UsageSnapshot one = make({P::codex, W::fiveHour, 0, 50, 100'000});
             log.append(one);
         },
         true},
        {"two more, opening a chunk",
         [](SnapshotLog& log) {
             log.append(make({P::codex, W::fiveHour, 1, 51, 100'000}));
             log.append(make({P::claude, W::sevenDay, 1, 5, 100'000}));
         },
         true},
        {"unchanged", [](SnapshotLog&) {}, true},
        {"last one replaced by another observation",
         [](SnapshotLog& log) {
             log.removeLast(1);
             log.append(make({P::claude, W::sevenDay, 2, 6, 100'000}));
         },
         false},
        {"same contents built afresh", [](SnapshotLog& log) { log = SnapshotLog(log.toList()); }, true},
        {"a snapshot inside a full chunk replaced",
         [](SnapshotLog& log) {
             QList<UsageSnapshot> list = log.toList();
             list[10] = make({P::codex, W::fiveHour, -290, 3, 100'000});
             log = list;
         },
         false},
    };
    SeriesCache cache;
    cache.update(stored, both, std::nullopt);
    for (const Row& row : rows) {
        row.change(stored);
        cache.update(stored, both, std::nullopt);
        EXPECT_EQ(cache.lastUpdateWasIncremental(), row.incremental) << row.name;
        EXPECT_TRUE(cache.working(stored) == stored) << row.name;
        EXPECT_EQ(cache.series(P::claude, W::sevenDay).size(),
                  std::count_if(stored.begin(), stored.end(),
                                [](const UsageSnapshot& s) { return s.provider == P::claude; }))
            << row.name;
        // Codex's series spans more than one chunk of positions, out of time order in the log.
        const WorkingSeries codex = cache.published().first();
        ASSERT_EQ(codex.key, (SeriesKey{P::codex, W::fiveHour})) << row.name;
        EXPECT_EQ(codex.positions.size(),
                  std::count_if(stored.begin(), stored.end(),
                                [](const UsageSnapshot& s) { return s.provider == P::codex; }))
            << row.name;
        for (qsizetype i = 1; i < codex.positions.size(); ++i)
            ASSERT_LE(stored[codex.positions[i - 1]].timestamp, stored[codex.positions[i]].timestamp)
                << row.name;
    }
}

TEST(SeriesCache, DemoResetKeepsTheGivenList)
{
    SeriesCache cache;
    QList<UsageSnapshot> demo;
    for (const Reading& r : kFirstWindow + kSecondWindow)
        demo.append(make(r));
    cache.reset(demo);
    EXPECT_EQ(cache.working({}), demo);
    EXPECT_EQ(cache.windows(P::codex), QList<WindowKind>{W::fiveHour});
    EXPECT_EQ(cache.windows(P::claude), QList<WindowKind>{W::sevenDay});
    // Trimmed at the reset: the second window only.
    EXPECT_EQ(cache.series(P::codex, W::fiveHour).size(), 3);
}

} // namespace
