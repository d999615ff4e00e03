#include "core/text/TimeFormatting.h"
#include "ui/DailyUsageView.h"
#include "ui/ExtraUsageView.h"
#include "ui/IconLine.h"
#include "ui/RecommendationView.h"
#include "ui/ScenarioCard.h"
#include "ui/TrendsView.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace {

QStringList labels(const QWidget& root)
{
    QStringList texts;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (label->isHidden() || label->text().isEmpty())
            continue;
        const auto* line = qobject_cast<const IconLine*>(label->parentWidget());
        texts << (line ? line->text() : label->text());
    }
    return texts;
}

TEST(ScenarioCard, TilesTitleAndSaving)
{
    struct Row
    {
        std::optional<double> saving;
        std::optional<QDateTime> runOut;
        QStringList lines;
    };
    const QDateTime out = UiTest::kNow.addSecs(5400);
    const Row rows[] = {
        {0.4, std::nullopt, {"~40% left", "by reset (est.)", ""}},
        {-2.0, std::nullopt, {"~40% left", "by reset (est.)", "costs ~2% more"}},
        {12.0, out, {"runs out ~" + TimeFormatting::clock(out, UiTest::kNow), "", "saves ~12%"}},
        {std::nullopt, std::nullopt, {"~40% left", "by reset (est.)", ""}},
    };
    for (const Row& row : rows) {
        ScenarioResult s;
        s.title = "Medium effort";
        s.projectedUsedAtReset = 60;
        s.estimatedSavingPercent = row.saving;
        s.runOutAt = row.runOut;
        EXPECT_EQ(ScenarioCard::tileLines(s, true, UiTest::kNow), row.lines);
    }
    EXPECT_EQ(ScenarioCard::title(WindowKind::weekly), "What-ifs · this week");
    EXPECT_EQ(ScenarioCard::title(WindowKind::sevenDay), "What-ifs · this week");
    EXPECT_EQ(ScenarioCard::title(WindowKind::fiveHour), "What-ifs · 5h");

    ScenarioCard card;
    card.setInput({WindowKind::fiveHour, true, {}, UiTest::kNow});
    EXPECT_TRUE(card.isHidden());
    ScenarioResult s;
    s.title = "Extra high effort";
    s.description = "One effort level up";
    s.projectedUsedAtReset = 70;
    s.assumptions = {"Estimate based on conservative default multipliers.",
                     "Current effort unknown; assumed high."};
    card.setInput({WindowKind::fiveHour, false, {s}, UiTest::kNow});
    EXPECT_FALSE(card.isHidden());
    EXPECT_EQ(labels(card),
              (QStringList{"What-ifs · 5h", "Extra high effort", "~70% used", "by reset (est.)"}));
    const auto* tile = card.findChild<QWidget*>("scenarioTile");
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->toolTip(), "One effort level up\nEstimate based on conservative default multipliers.\n"
                               "Current effort unknown; assumed high.");
}

TEST(RecommendationView, LinesIconsAndHiddenWhenEmpty)
{
    RecommendationView view;
    view.setRecommendations({});
    EXPECT_TRUE(view.isHidden());
    Recommendation watch;
    watch.status = ForecastStatus::watch;
    watch.message = "Codex is ahead of pace.";
    Recommendation safe;
    safe.message = "Claude Code has more headroom right now. Consider it for routine edits.";
    view.setRecommendations({watch, safe});
    EXPECT_FALSE(view.isHidden());
    EXPECT_EQ(view.lines(), (QStringList{watch.message, safe.message}));
    const std::pair<ForecastStatus, PanelIcons::Symbol> icons[] = {
        {ForecastStatus::safe, PanelIcons::Symbol::check},
        {ForecastStatus::watch, PanelIcons::Symbol::eye},
        {ForecastStatus::risky, PanelIcons::Symbol::warning},
        {ForecastStatus::limitLikely, PanelIcons::Symbol::warning},
        {ForecastStatus::limited, PanelIcons::Symbol::xmark},
        {ForecastStatus::noData, PanelIcons::Symbol::info},
        {ForecastStatus::unknown, PanelIcons::Symbol::info},
    };
    for (const auto& [status, symbol] : icons)
        EXPECT_EQ(RecommendationView::symbol(status), symbol) << rawValue(status).toStdString();
}

TEST(ExtraUsageView, RendersTheStatesReportAndHidesWithoutOne)
{
    ExtraUsageView view;
    view.setReport(std::nullopt);
    EXPECT_TRUE(view.isHidden());
    // With overage disabled there is no report at all, whatever the budget.
    AppSettings budget;
    budget.extraUsageBudgetGBP = 50;
    EXPECT_EQ(StateReports::overage(ClaudeExtraUsage{false, 20, 100.0, "GBP"}, budget), std::nullopt);

    view.setReport(StateReports::overage(ClaudeExtraUsage{true, 12.4, 100.0, "GBP"}, budget));
    EXPECT_FALSE(view.isHidden());
    EXPECT_EQ(labels(view), (QStringList{"Overage spend", "£12.40 used", "£12.40 of £50 budget · 25%"}));
    view.setReport(StateReports::overage(ClaudeExtraUsage{true, 3, std::nullopt, "GBP"}, AppSettings{}));
    EXPECT_EQ(labels(view),
              (QStringList{"Overage spend", "£3.00 used",
                           "Real money beyond your plan. Set a budget in Settings to get warned."}));
    EXPECT_EQ(ExtraUsageView::budgetRole(0.79), ColorRole::safe);
    EXPECT_EQ(ExtraUsageView::budgetRole(0.8), ColorRole::watch);
    EXPECT_EQ(ExtraUsageView::budgetRole(1.0), ColorRole::limited);
}

TEST(TrendsAndDailyUsage, RowsOnlyForProvidersWithTokens)
{
    const QList<ProviderUsage> usage{
        {Provider::codex, {0, 0, 0, 0, 0, 0, 0}, 0, std::nullopt, 0, "£0.00"},
        {Provider::claude,
         {100, 0, 2'000'000, 0, 0, 500'000, 1'300'000},
         3'900'100,
         -12.4,
         557'157,
         "£31.20"},
    };
    TrendsView trends;
    trends.setUsage(usage);
    EXPECT_EQ(labels(trends), (QStringList{"Trend · this week vs last", "Claude Code", "4M", "-12%"}));
    EXPECT_EQ(TrendsView::deltaText(25.0), "+25%");
    EXPECT_EQ(TrendsView::deltaText(0.0), "+0%");
    EXPECT_EQ(TrendsView::deltaText(std::nullopt), "");

    DailyUsageView daily;
    daily.setInput({usage, "£41.00", std::optional<QString>("22:00–02:00"), {}});
    EXPECT_EQ(
        labels(daily),
        (QStringList{"Daily usage", "£41.00/wk est.", "Claude Code", "avg 557K/day · ~£31.20/wk",
                     "Most active 22:00–02:00",
                     // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one sentence in two pieces
                     "This computer's local logs only. Spend is estimated metered cost; on a flat plan it's "
                     "the equivalent value you're getting."}));

    const QList<ProviderUsage> quiet{usage.first()};
    trends.setUsage(quiet);
    daily.setInput({quiet, "£0.00", std::nullopt, {}});
    EXPECT_TRUE(trends.isHidden());
    EXPECT_TRUE(daily.isHidden());
}

} // namespace
