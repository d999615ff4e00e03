#include "history/ClaudeEffortCalibration.h"
#include "core/text/Zone.h"
#include "support/Reading.h"

#include "core/model/ScenarioMultipliers.h"
#include "core/runtime/Clock.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

namespace {

using namespace ClaudeEffortCalibration;

const QDateTime kStart(QDate(2026, 5, 12), QTime(9, 0, 0), Zone::utc());
const QDateTime kReset = kStart.addDays(3);

UsageSnapshot statusLine(const QDateTime& at, double used, const QString& effort, QDateTime resetAt = kReset)
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, WindowKind::sevenDay, at, used, resetAt);
    s.effortLevel = effort;
    s.source = QStringLiteral("claude.statusline");
    return s;
}

// Tokens spent since a moment, from a per-minute ledger; moments not yet counted answer nothing.
struct Ledger
{
    QMap<QDateTime, qint64> spentAt;
    bool counted = true;

    ClaudeTokenCount count()
    {
        return [this](const QDateTime& since) -> std::optional<qint64> {
            if (!counted)
                return std::nullopt;
            qint64 total = 0;
            for (auto it = spentAt.cbegin(); it != spentAt.cend(); ++it)
                total += it.key() >= since ? it.value() : 0;
            return total;
        };
    }
};

TEST(ClaudeEffortCalibration, LearnsAcrossCyclesAndConsidersEachReadingOnce)
{
    QTemporaryDir dir;
    ClaudeFiles files(dir.path());
    ManualClock clock(kStart);
    Ledger ledger;
    QList<UsageSnapshot> log{statusLine(kStart, 40, QStringLiteral("high"))};
    const auto cycle = [&] { return learn(log, ledger.count(), files, clock.now()); };

    EXPECT_EQ(cycle(), Learning::tooFewReadings);
    // 10,000 tokens and two points later. The first cycles after the reading find its count still pending:
    // nothing is stored then, not even the mark that the pair was seen.
    clock.advance(600);
    ledger.spentAt.insert(clock.now().addSecs(-300), 10'000);
    log.append(statusLine(clock.now(), 42, QStringLiteral("High")));
    ledger.counted = false;
    EXPECT_EQ(cycle(), Learning::countPending);
    EXPECT_EQ(files.writes(), 0);
    ledger.counted = true;
    clock.advance(30);
    EXPECT_EQ(cycle(), Learning::learned);
    Store store = *load(files);
    EXPECT_DOUBLE_EQ(store.byEffort.value(QStringLiteral("high")).pctPerToken, 0.0002);
    EXPECT_EQ(store.byEffort.value(QStringLiteral("high")).samples, 1);
    EXPECT_EQ(store.learnedUpTo, log.last().timestamp);

    // The same pair on the next cycle changes nothing and writes nothing.
    clock.advance(30);
    EXPECT_EQ(cycle(), Learning::alreadyConsidered);
    EXPECT_EQ(files.writes(), 1);

    // A second measurement of 0.0004 weighs 35 %.
    clock.advance(600);
    ledger.spentAt.insert(clock.now().addSecs(-60), 5'000);
    log.append(statusLine(clock.now(), 44, QStringLiteral("high")));
    EXPECT_EQ(cycle(), Learning::learned);
    store = *load(files);
    EXPECT_NEAR(store.byEffort.value(QStringLiteral("high")).pctPerToken, 0.00027, 1e-12);
    EXPECT_EQ(store.byEffort.value(QStringLiteral("high")).samples, 2);

    // Pairs that measure nothing still move learnedUpTo on.
    struct Row
    {
        double used;
        QString effort;
        QDateTime resetAt;
    } rows[] = {{44.5, QStringLiteral("high"), kReset},
                {47, QStringLiteral("max"), kReset},
                {50, QStringLiteral("high"), kReset.addDays(7)}};
    for (const Row& row : rows) {
        clock.advance(600);
        ledger.spentAt.insert(clock.now().addSecs(-60), 5'000);
        log.append(statusLine(clock.now(), row.used, row.effort, row.resetAt));
        EXPECT_EQ(cycle(), Learning::noMeasurement) << row.used;
        EXPECT_EQ(load(files)->learnedUpTo, clock.now());
        EXPECT_EQ(load(files)->byEffort.value(QStringLiteral("high")).samples, 2);
    }

    // A reading stamped an hour ahead (a wrong clock) would freeze learnedUpTo there: it is not considered.
    log.append(statusLine(clock.now().addSecs(3600), 90, QStringLiteral("high"), kReset.addDays(7)));
    EXPECT_EQ(cycle(), Learning::alreadyConsidered);
    EXPECT_EQ(load(files)->learnedUpTo, clock.now());
}

TEST(ClaudeEffortCalibration, ScalesByLearnedRatesThenByTheFixedTable)
{
    QTemporaryDir dir;
    ClaudeFiles files(dir.path());
    const auto store = [&](qint64 maxSamples) {
        Store s;
        s.byEffort.insert(QStringLiteral("max"), Rate{0.0006, maxSamples});
        s.byEffort.insert(QStringLiteral("high"), Rate{0.0002, 5});
        files.write(ClaudeFiles::effortFile, encode(s));
    };
    store(3);
    EXPECT_NEAR(measuredScale(QStringLiteral("max"), QStringLiteral("high"), files).value_or(0), 3.0, 1e-12);
    EXPECT_EQ(measuredScale(QStringLiteral("high"), QStringLiteral("HIGH"), files), std::nullopt);
    EXPECT_EQ(measuredScale(QStringLiteral("max"), std::nullopt, files), std::nullopt);
    store(2);
    EXPECT_EQ(measuredScale(QStringLiteral("max"), QStringLiteral("high"), files), std::nullopt);

    ClaudeEstimator::CurrentSettings current;
    current.effortLevel = QStringLiteral("max");
    const QList<UsageSnapshot> snaps{statusLine(kStart, 40, QStringLiteral("high"))};
    const double fixed = *ScenarioMultipliers::effortMultiplier(Provider::claude, QStringLiteral("max")) /
                         *ScenarioMultipliers::effortMultiplier(Provider::claude, QStringLiteral("high"));
    ASSERT_GT(std::abs(fixed - 3.0), 0.1);
    EXPECT_DOUBLE_EQ(effortScale(Provider::claude, snaps, current, files), fixed);
    store(3);
    EXPECT_NEAR(effortScale(Provider::claude, snaps, current, files), 3.0, 1e-12);
    EXPECT_DOUBLE_EQ(effortScale(Provider::codex, snaps, current, files), 1.0);
    EXPECT_DOUBLE_EQ(effortScale(Provider::claude, {}, current, files), 1.0);
}

} // namespace
