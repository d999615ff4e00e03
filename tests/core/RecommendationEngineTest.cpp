#include "core/forecast/RecommendationEngine.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

using S = ForecastStatus;
using Input = RecommendationEngine::Input;

ForecastResult result(WindowKind window, S status, std::optional<double> remainingAtReset = std::nullopt,
                      double currentRemaining = 50)
{
    ForecastResult r;
    r.windowKind = window;
    r.status = status;
    r.projectedRemainingAtReset = remainingAtReset;
    r.currentRemainingPercent = currentRemaining;
    return r;
}

ForecastResult weekly(S status, std::optional<double> remaining = 12)
{
    return result(WindowKind::sevenDay, status, remaining);
}

ForecastResult fiveHour(S status, double currentRemaining = 50)
{
    return result(WindowKind::fiveHour, status, std::nullopt, currentRemaining);
}

Input input(Provider provider, std::optional<ForecastResult> five,
            std::optional<ForecastResult> longWindow = {})
{
    return Input{provider, std::move(five), std::move(longWindow), std::nullopt, std::nullopt};
}

// The advice without its random identifiers.
QStringList advice(const QList<Recommendation>& list)
{
    QStringList lines;
    for (const Recommendation& r : list)
        lines << (r.provider ? rawValue(*r.provider) : QStringLiteral("-")) + QLatin1Char('|') +
                     rawValue(r.status) + QLatin1Char('|') + r.message;
    return lines;
}

} // namespace

TEST(RecommendationEngine, AdvicePerProviderAndAcrossProviders)
{
    ForecastResult soon = fiveHour(S::limitLikely);
    soon.estimatedTimeToLimit = 2400;
    ForecastResult hit = fiveHour(S::limited);
    hit.timeUntilReset = 7500;
    struct Row
    {
        const char* situation;
        QList<Input> inputs;
        QStringList expected;
    };
    const Row rows[] = {
        {"no forecasts at all", {input(Provider::codex, std::nullopt)}, {}},
        {"weekly without a projected remaining",
         {input(Provider::codex, std::nullopt, weekly(S::risky, {}))},
         {}},
        {"weekly safe",
         {input(Provider::claude, std::nullopt, weekly(S::safe, 41.6))},
         {"claude|safe|Claude Code is on track: about 42% of your weekly left by reset (est.)."}},
        {"weekly watch",
         {input(Provider::codex, std::nullopt, weekly(S::watch))},
         {"codex|watch|Codex weekly is getting tight, ~12% left by reset. Ease off for routine work."}},
        {"weekly limitLikely reads as risky",
         {input(Provider::codex, std::nullopt, weekly(S::limitLikely))},
         {"codex|risky|Codex weekly will run out before reset at this pace. Lower effort or slow down."}},
        {"weekly limited reads as risky",
         {input(Provider::codex, std::nullopt, weekly(S::limited, 0))},
         {"codex|risky|Codex weekly will run out before reset at this pace. Lower effort or slow down."}},
        {"weekly noData and 5h safe say nothing",
         {input(Provider::codex, fiveHour(S::safe), weekly(S::noData)),
          input(Provider::claude, fiveHour(S::unknown), weekly(S::unknown))},
         {}},
        {"weekly first, then the 5h",
         {input(Provider::claude, fiveHour(S::watch), weekly(S::safe, 80))},
         {"claude|safe|Claude Code is on track: about 80% of your weekly left by reset (est.).",
          "claude|watch|Claude Code is near its 5h cap. Lower effort for routine edits."}},
        {"no weekly on track beside a 5h at risk",
         {input(Provider::codex, soon, weekly(S::safe, 80)),
          input(Provider::claude, hit, weekly(S::safe, 80))},
         {"codex|limitLikely|Codex may hit the 5h limit in ~40m. Save it for complex work.",
          "claude|limited|Claude Code hit the 5h limit. Resets in 2h 5m."}},
        {"5h risky",
         {input(Provider::codex, fiveHour(S::risky))},
         {"codex|risky|Codex 5h is risky. Lower effort or switch provider for routine edits."}},
        {"5h limit likely",
         {input(Provider::claude, soon)},
         {"claude|limitLikely|Claude Code may hit the 5h limit in ~40m. Save it for complex work."}},
        {"5h limit likely without a time",
         {input(Provider::claude, fiveHour(S::limitLikely))},
         {"claude|limitLikely|Claude Code may hit the 5h limit in ~—. Save it for complex work."}},
        {"5h limited",
         {input(Provider::codex, hit)},
         {"codex|limited|Codex hit the 5h limit. Resets in 2h 5m."}},
        {"other provider 15 points roomier: not enough",
         {input(Provider::claude, fiveHour(S::risky, 10)), input(Provider::codex, fiveHour(S::safe, 25))},
         {"claude|risky|Claude Code 5h is risky. Lower effort or switch provider for routine edits."}},
        {"other provider 16 points roomier",
         {input(Provider::claude, fiveHour(S::risky, 10)), input(Provider::codex, fiveHour(S::safe, 26))},
         {"claude|risky|Claude Code 5h is risky. Lower effort or switch provider for routine edits.",
          "codex|safe|Codex has more headroom right now. Consider it for routine edits."}},
        {"a single stressed provider gets no cross advice",
         {input(Provider::claude, fiveHour(S::risky, 10))},
         {"claude|risky|Claude Code 5h is risky. Lower effort or switch provider for routine edits."}},
        {"inputs without a 5h forecast are not compared",
         {input(Provider::claude, fiveHour(S::risky, 10)),
          input(Provider::codex, std::nullopt, weekly(S::safe, 90))},
         {"claude|risky|Claude Code 5h is risky. Lower effort or switch provider for routine edits.",
          "codex|safe|Codex is on track: about 90% of your weekly left by reset (est.)."}},
        {"both stressed: the first stressed one against the roomiest",
         {input(Provider::claude, fiveHour(S::risky, 10)),
          input(Provider::codex, fiveHour(S::limitLikely, 30))},
         {"claude|risky|Claude Code 5h is risky. Lower effort or switch provider for routine edits.",
          "codex|limitLikely|Codex may hit the 5h limit in ~—. Save it for complex work.",
          "codex|safe|Codex has more headroom right now. Consider it for routine edits."}},
        {"the stressed provider is itself the roomiest",
         {input(Provider::codex, fiveHour(S::risky, 40)), input(Provider::claude, fiveHour(S::safe, 20))},
         {"codex|risky|Codex 5h is risky. Lower effort or switch provider for routine edits."}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(advice(RecommendationEngine::recommendations(row.inputs)), row.expected) << row.situation;
}

TEST(RecommendationEngine, EveryRecommendationHasItsOwnId)
{
    const QList<Input> inputs{input(Provider::claude, fiveHour(S::risky, 10), weekly(S::risky)),
                              input(Provider::codex, fiveHour(S::safe, 90))};
    const QList<Recommendation> first = RecommendationEngine::recommendations(inputs);
    const QList<Recommendation> second = RecommendationEngine::recommendations(inputs);
    ASSERT_EQ(first.size(), 3);
    EXPECT_NE(first[0].id, first[1].id);
    EXPECT_NE(first[0].id, second[0].id);
    EXPECT_EQ(advice(first), advice(second));
}
