#include "providers/DemoProvider.h"
#include "core/text/Zone.h"

#include <gtest/gtest.h>

#include <QSet>

#include <cmath>

namespace {

// The shape of both series around now, whatever the demo's figures: the peaks and reset times are constants.
TEST(DemoHistory, ShapesBothSeriesAroundNow)
{
    const QDateTime now = QDateTime(QDate(2026, 3, 4), QTime(10, 30, 15), Zone::utc()).addMSecs(437);
    for (Provider provider : {Provider::codex, Provider::claude}) {
        SCOPED_TRACE(rawValue(provider).toStdString());
        const QList<UsageSnapshot> all = DemoProvider::history(provider, now);
        ASSERT_EQ(all.size(), 23);
        QSet<QUuid> ids;
        for (qsizetype i = 0; i < all.size(); ++i) {
            const UsageSnapshot& s = all[i];
            EXPECT_EQ(std::tuple(s.provider, s.windowKind, s.source),
                      std::tuple(provider, i < 13 ? WindowKind::fiveHour : WindowKind::sevenDay, "demo"))
                << i;
            EXPECT_DOUBLE_EQ(s.remainingPercent, std::max(0.0, 100 - s.usedPercent)) << i;
            EXPECT_DOUBLE_EQ(std::round(s.usedPercent * 10) / 10, s.usedPercent) << "one decimal: " << i;
            if (i != 0 && i != 13) {
                EXPECT_LT(all[i - 1].timestamp, s.timestamp) << i;
                EXPECT_LE(all[i - 1].usedPercent, s.usedPercent) << i;
            }
            ids.insert(s.id);
        }
        EXPECT_EQ(ids.size(), 23) << "every snapshot needs its own id";
        // Each series starts empty and ends now, sub-second part included; the five-hour one shows at most
        // its last two hours, the seven-day one starts exactly at its window's start.
        EXPECT_EQ(std::tuple(all[0].usedPercent, all[13].usedPercent), std::tuple(0.0, 0.0));
        EXPECT_EQ(std::tuple(all[12].timestamp, all[22].timestamp), std::tuple(now, now));
        EXPECT_GE(all[0].timestamp, now.addSecs(-7'200));
        EXPECT_GE(all[0].timestamp, all[12].resetAt->addSecs(-5 * 3600));
        EXPECT_EQ(all[13].timestamp, all[22].resetAt->addSecs(-7 * 86'400));
    }
    // Claude's five-hour window began more than two hours ago: the cap shows.
    EXPECT_EQ(DemoProvider::history(Provider::claude, now)[0].timestamp, now.addSecs(-7'200));
}

} // namespace
