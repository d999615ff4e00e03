#include "app/RetentionScheduler.h"

#include "core/SnapshotTestData.h"
#include "core/io/SnapshotStore.h"
#include "core/runtime/Clock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace SnapshotTestData;

TEST(RetentionScheduler, PrunesAtStartThenEveryIntervalWithTheSettingAndTimeOfThatMoment)
{
    QTemporaryDir dir(TestSupport::homePath() + QStringLiteral("/retention-XXXXXX"));
    const QDateTime start = utc(2026, 3, 10, 12);
    ManualClock clock(start);
    const auto stamped = [&](qint64 secondsAgo) {
        return reading(Provider::codex, WindowKind::fiveHour, start.addSecs(-secondsAgo), 42);
    };
    const UsageSnapshot old = stamped(40 * 86'400);
    const UsageSnapshot twoDays = stamped(2 * 86'400);
    const UsageSnapshot anHour = stamped(3'600);
    auto store = std::make_shared<SnapshotStore>(dir.filePath(QStringLiteral("snapshots.ndjson")));
    store->append({old, twoDays, anHour});
    const auto kept = [&] {
        QList<QUuid> ids;
        for (const UsageSnapshot& s : store->all())
            ids.append(s.id);
        return ids;
    };

    qint64 days = 30;
    int prunes = 0;
    const auto retention = [&] { return days; };
    RetentionScheduler scheduler(store, clock, retention, std::chrono::milliseconds(20));
    QObject::connect(&scheduler, &RetentionScheduler::pruned, [&](bool rewritten) {
        EXPECT_TRUE(rewritten);
        ++prunes;
    });
    scheduler.start();
    ASSERT_TRUE(TestSupport::waitFor([&] { return prunes >= 1; }));
    EXPECT_EQ(kept(), (QList<QUuid>{twoDays.id, anHour.id}));

    days = 1;
    ASSERT_TRUE(TestSupport::waitFor([&] { return kept() == QList<QUuid>{anHour.id}; }));
    clock.advance(2 * 86'400);
    ASSERT_TRUE(TestSupport::waitFor([&] { return kept().isEmpty(); }));
}
