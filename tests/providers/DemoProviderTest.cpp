#include "providers/DemoProvider.h"

#include <gtest/gtest.h>

#include <QSet>

#include <cmath>

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 3, 4), QTime(10, 30, 15), Qt::UTC);

struct DemoCase
{
    Provider provider;
    double fiveHourPeak;
    qint64 fiveHourSpanSeconds; // first five-hour point before now
    qint64 fiveHourResetIn;
    double sevenDayPeak;
    qint64 sevenDaySpanSeconds;
    qint64 sevenDayResetIn;
};

// The shape of both series around now; the model, plan and limit names are plain constants.
TEST(DemoHistory, ShapesBothSeriesAroundNow)
{
    const DemoCase rows[] = {
        // Codex's five-hour window began 100 minutes ago; the whole of it is shown.
        {Provider::codex, 22, 6'000, 12'000, 34, 276'480, 328'320},
        // Claude's began 132 minutes ago; the series is capped to the last 120 minutes.
        {Provider::claude, 28, 7'200, 10'080, 41, 293'760, 311'040},
    };
    for (const DemoCase& c : rows) {
        SCOPED_TRACE(rawValue(c.provider).toStdString());
        const QList<UsageSnapshot> all = DemoProvider::history(c.provider, kNow);
        ASSERT_EQ(all.size(), 23);
        QSet<QUuid> ids;
        for (qsizetype i = 0; i < all.size(); ++i) {
            const UsageSnapshot& s = all[i];
            EXPECT_EQ(s.provider, c.provider) << i;
            EXPECT_EQ(s.windowKind, i < 13 ? WindowKind::fiveHour : WindowKind::sevenDay) << i;
            EXPECT_EQ(s.source, QStringLiteral("demo")) << i;
            EXPECT_DOUBLE_EQ(s.remainingPercent, std::max(0.0, 100 - s.usedPercent)) << i;
            EXPECT_DOUBLE_EQ(std::round(s.usedPercent * 10) / 10, s.usedPercent) << "one decimal: " << i;
            if (i != 0 && i != 13) {
                EXPECT_LT(all[i - 1].timestamp, s.timestamp) << i;
                EXPECT_LE(all[i - 1].usedPercent, s.usedPercent) << i;
            }
            ids.insert(s.id);
        }
        EXPECT_EQ(ids.size(), 23) << "every snapshot needs its own id";

        const UsageSnapshot& lastFive = all[12];
        EXPECT_EQ(all[0].timestamp, kNow.addSecs(-c.fiveHourSpanSeconds));
        EXPECT_DOUBLE_EQ(all[0].usedPercent, 0.0);
        EXPECT_EQ(lastFive.timestamp, kNow);
        EXPECT_DOUBLE_EQ(lastFive.usedPercent, c.fiveHourPeak);
        EXPECT_EQ(lastFive.resetAt, kNow.addSecs(c.fiveHourResetIn));
        EXPECT_EQ(lastFive.windowDurationMins, 300.0);

        const UsageSnapshot& lastSeven = all[22];
        EXPECT_EQ(all[13].timestamp, kNow.addSecs(-c.sevenDaySpanSeconds));
        // The first seven-day point lies exactly at the window's start.
        EXPECT_EQ(all[13].timestamp, lastSeven.resetAt->addSecs(-7 * 86'400));
        EXPECT_DOUBLE_EQ(all[13].usedPercent, 0.0);
        EXPECT_EQ(lastSeven.timestamp, kNow);
        EXPECT_DOUBLE_EQ(lastSeven.usedPercent, c.sevenDayPeak);
        EXPECT_EQ(lastSeven.resetAt, kNow.addSecs(c.sevenDayResetIn));
        EXPECT_EQ(lastSeven.windowDurationMins, 10'080.0);
    }
}

TEST(DemoHistory, SubSecondNowIsKeptOnTheLastPoint)
{
    const QDateTime now = kNow.addMSecs(437);
    const QList<UsageSnapshot> all = DemoProvider::history(Provider::claude, now);
    EXPECT_EQ(all[12].timestamp, now);
    EXPECT_EQ(all[22].timestamp, now);
    EXPECT_EQ(all[0].timestamp, now.addSecs(-7'200));
}

} // namespace
