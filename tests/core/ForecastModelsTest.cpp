#include "core/model/ForecastModels.h"

#include <gtest/gtest.h>

#include <limits>

TEST(ForecastModels, EqualityHoldsOnNaNAndSignedZero)
{
    ForecastResult a;
    a.provider = Provider::claude;
    a.windowKind = WindowKind::sevenDay;
    a.currentUsedPercent = std::numeric_limits<double>::quiet_NaN();
    a.projectedUsedAtReset = 0.0;
    ForecastResult b = a;
    b.projectedUsedAtReset = -0.0;
    EXPECT_EQ(a, b);
    b.projectedUsedAtReset.reset();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.id(), QStringLiteral("claude-sevenDay"));

    PaceResult p;
    p.projectedEnd = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(p, PaceResult(p));
    EXPECT_EQ(rawValue(PaceResult::Verdict::onPace), QStringLiteral("On pace"));
}
