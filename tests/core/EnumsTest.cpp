#include "core/Enums.h"
#include "core/ProviderHealth.h"

#include <gtest/gtest.h>

TEST(Enums, RawValuesRoundTripAndRejectOthers)
{
    for (auto v : allProviders)
        EXPECT_EQ(fromRawValue<Provider>(rawValue(v)), v);
    for (auto v : allWindowKinds)
        EXPECT_EQ(fromRawValue<WindowKind>(rawValue(v)), v);
    for (auto v : allSourceConfidences)
        EXPECT_EQ(fromRawValue<SourceConfidence>(rawValue(v)), v);
    for (auto v : allForecastStatuses)
        EXPECT_EQ(fromRawValue<ForecastStatus>(rawValue(v)), v);
    for (auto v : allForecastBases)
        EXPECT_EQ(fromRawValue<ForecastBasis>(rawValue(v)), v);

    EXPECT_FALSE(fromRawValue<Provider>(u"Codex"));
    EXPECT_FALSE(fromRawValue<Provider>(u"gemini"));
    EXPECT_FALSE(fromRawValue<WindowKind>(u""));
    EXPECT_EQ(fromRawValue<ForecastStatus>(u"limitLikely"), ForecastStatus::limitLikely);
}

TEST(Enums, LabelsAndRanks)
{
    EXPECT_EQ(displayName(Provider::claude), QStringLiteral("Claude Code"));
    EXPECT_EQ(shortLabel(WindowKind::unknown), QStringLiteral("Window"));
    EXPECT_EQ(displayRank(WindowKind::weekly), displayRank(WindowKind::sevenDay));
    EXPECT_EQ(displayLabel(SourceConfidence::medium), QStringLiteral("Medium"));
    EXPECT_EQ(label(ForecastStatus::limitLikely), QStringLiteral("Limit likely"));
    EXPECT_EQ(colorRole(ForecastStatus::limitLikely), ColorRole::risky);
    EXPECT_EQ(shortLabel(ForecastBasis::sinceWindowStart), QStringLiteral("Start"));
    EXPECT_EQ(rawValue(ProviderHealth::State::unavailable), QStringLiteral("unavailable"));
}

TEST(Enums, WorstStatusKeepsTheFirstOfEqualRank)
{
    EXPECT_EQ(worse(ForecastStatus::unknown, ForecastStatus::safe), ForecastStatus::safe);
    EXPECT_EQ(worse(ForecastStatus::noData, ForecastStatus::unknown), ForecastStatus::noData);
    EXPECT_EQ(worse(ForecastStatus::unknown, ForecastStatus::noData), ForecastStatus::unknown);
    EXPECT_EQ(worse(ForecastStatus::limitLikely, ForecastStatus::limited), ForecastStatus::limited);
    EXPECT_EQ(worse(ForecastStatus::limited, ForecastStatus::risky), ForecastStatus::limited);
}
