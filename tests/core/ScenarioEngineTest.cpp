#include "core/forecast/ScenarioEngine.h"

#include "core/ForecastSeries.h"
#include "core/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ForecastSeries;

namespace {

const QString defaults = QStringLiteral("Estimate based on conservative default multipliers.");
const QString assumedHigh = QStringLiteral("Current effort unknown; assumed high.");

// A snapshot at the origin whose window resets 10 hours later.
UsageSnapshot at10hToReset(std::optional<QString> effort, std::optional<QString> speed = std::nullopt)
{
    UsageSnapshot s = sample(0, 40, 600);
    s.effortLevel = effort;
    s.speedMode = speed;
    return s;
}

struct Expected
{
    const char* title;
    double projected;
    double saving;
    std::optional<double> runOutMinute;
    const char* description;
};

} // namespace

TEST(ScenarioEngine, EffortLaddersFastModeAndOrder)
{
    struct Row
    {
        const char* situation;
        Provider provider;
        double currentUsed;
        double future;
        UsageSnapshot snapshot;
        std::vector<Expected> expected;
    };
    using Steps = std::vector<Expected>;
    const Row rows[] = {
        {"Claude at high", Provider::claude, 40, 40, at10hToReset(QStringLiteral("high")),
         Steps{{"Medium effort", 70, 10, std::nullopt, "Switching to medium effort: ~70% used by reset"},
               {"Extra high effort", 92, -12, std::nullopt,
                "Switching to extra high effort: ~92% used by reset"},
               {"Max effort", 104, -24, 600 * 60.0 / 64, "Switching to max effort: ~104% used by reset"}}},
        {"Claude at XHIGH (any case) has no Max step", Provider::claude, 40, 39,
         at10hToReset(QStringLiteral("XHIGH")),
         Steps{{"High effort", 70, 9, std::nullopt, "Switching to high effort: ~70% used by reset"},
               {"Max effort", 88, -9, std::nullopt, "Switching to max effort: ~88% used by reset"}}},
        {"Claude at max can only go lower", Provider::claude, 40, 32, at10hToReset(QStringLiteral("max")),
         Steps{{"Extra high effort", 66, 6, std::nullopt,
                "Switching to extra high effort: ~66% used by reset"}}},
        {"Codex at minimal is off the ladder", Provider::codex, 40, 20,
         at10hToReset(QStringLiteral("minimal")),
         Steps{{"Fast Mode on", 90, -30, std::nullopt, "Switching to Fast Mode: ~90% used by reset"}}},
        {"Codex at medium: Fast Mode sits before Max", Provider::codex, 40, 16,
         at10hToReset(QStringLiteral("medium")),
         Steps{{"Low effort", 52, 4, std::nullopt, "Switching to low effort: ~52% used by reset"},
               {"High effort", 60, -4, std::nullopt, "Switching to high effort: ~60% used by reset"},
               {"Fast Mode on", 80, -24, std::nullopt, "Switching to Fast Mode: ~80% used by reset"},
               {"Extra high effort", 66, -10, std::nullopt,
                "Switching to extra high effort: ~66% used by reset"}}},
        {"Codex in Fast Mode can turn it off", Provider::codex, 50, 100,
         at10hToReset(QStringLiteral("high"), QStringLiteral("Fast-GPT-5.4")),
         Steps{{"Medium effort", 130, 20, 600 * 50.0 / 80, "Switching to medium effort: ~130% used by reset"},
               {"Extra high effort", 140, -30, 600 * 50.0 / 130,
                "Switching to extra high effort: ~140% used by reset"},
               {"Fast Mode off", 100, 50, std::nullopt, "Turning Fast Mode off: ~100% used by reset"}}},
        {"run-out halfway when the projection is 150 from 50", Provider::codex, 50, 40,
         at10hToReset(QStringLiteral("minimal"), QStringLiteral("standard")),
         Steps{{"Fast Mode on", 140, -60, 300, "Switching to Fast Mode: ~140% used by reset"}}},
        {"Claude with a level missing from the table", Provider::claude, 40, 40,
         at10hToReset(QStringLiteral("turbo")), Steps{}},
        {"nothing left to burn", Provider::claude, 40, 0.1, at10hToReset(QStringLiteral("high")), Steps{}},
        {"a remainder that is not a number", Provider::codex, 40, std::numeric_limits<double>::quiet_NaN(),
         at10hToReset(QStringLiteral("high")), Steps{}},
    };
    for (const Row& row : rows) {
        const QList<ScenarioResult> results = ScenarioEngine::scenarios(
            row.provider, row.currentUsed, row.future, row.snapshot, SourceConfidence::medium, at(0));
        // An hour later the line starts an hour later and still ends at the reset (minute 600).
        const QList<ScenarioResult> later = ScenarioEngine::scenarios(
            row.provider, row.currentUsed, row.future, row.snapshot, SourceConfidence::medium, at(60));
        ASSERT_EQ(results.size(), static_cast<qsizetype>(row.expected.size())) << row.situation;
        for (qsizetype i = 0; i < results.size(); ++i) {
            const ScenarioResult& r = results[i];
            const Expected& e = row.expected[static_cast<size_t>(i)];
            EXPECT_EQ(r.title, QString::fromUtf8(e.title)) << row.situation;
            EXPECT_EQ(r.description, QString::fromUtf8(e.description)) << row.situation;
            EXPECT_NEAR(r.projectedUsedAtReset.value_or(-1), e.projected, 1e-9)
                << row.situation << " " << e.title;
            EXPECT_NEAR(r.estimatedSavingPercent.value_or(-1), e.saving, 1e-9)
                << row.situation << " " << e.title;
            EXPECT_EQ(r.confidence, SourceConfidence::medium);
            ASSERT_EQ(r.runOutAt.has_value(), e.runOutMinute.has_value()) << row.situation << " " << e.title;
            if (r.runOutAt) {
                EXPECT_LE(std::abs(r.runOutAt->msecsTo(at(*e.runOutMinute))), 1) << row.situation;
                EXPECT_LE(std::abs(later[i].runOutAt->msecsTo(at(60 + *e.runOutMinute * 540 / 600))), 1)
                    << row.situation;
            }
            const bool fast = r.title.startsWith(QStringLiteral("Fast Mode"));
            if (!fast) {
                EXPECT_EQ(r.assumptions, QStringList{defaults}) << row.situation;
            }
        }
    }
}

TEST(ScenarioEngine, AssumptionsNameTheGuesses)
{
    const auto claude = ScenarioEngine::scenarios(Provider::claude, 40, 40, at10hToReset(std::nullopt),
                                                  SourceConfidence::low, at(0));
    ASSERT_EQ(claude.size(), 3);
    for (const ScenarioResult& r : claude)
        EXPECT_EQ(r.assumptions, (QStringList{defaults, assumedHigh})) << r.title.toStdString();

    const auto on = ScenarioEngine::scenarios(
        Provider::codex, 40, 20, at10hToReset(QStringLiteral("minimal")), SourceConfidence::low, at(0));
    ASSERT_EQ(on.size(), 1);
    EXPECT_EQ(on[0].assumptions, QStringList{QStringLiteral("Assumes Fast Mode ~2.5× the standard burn.")});
    const auto off = ScenarioEngine::scenarios(
        Provider::codex, 40, 20, at10hToReset(QStringLiteral("minimal"), QStringLiteral("unknown-fast")),
        SourceConfidence::low, at(0));
    ASSERT_EQ(off.size(), 1);
    EXPECT_EQ(off[0].title, QStringLiteral("Fast Mode off"));
    EXPECT_EQ(off[0].assumptions, QStringList{QStringLiteral("Assumes Fast Mode ~2.0× the standard burn.")});
}
