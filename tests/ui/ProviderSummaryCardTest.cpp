#include "ui/ProviderSummaryCard.h"
#include "app/PublishedState.h"
#include "core/text/TimeFormatting.h"
#include "ui/IconLine.h"
#include "ui/StatusPill.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

#include <QLabel>

namespace {

using UiTest::kNow;

// The run-out is the forecast's own: a projection alone never makes one.
ForecastResult withProjection(ForecastResult f, double projected, std::optional<double> burn,
                              std::optional<QDateTime> resetAt = kNow.addSecs(5 * 3600),
                              std::optional<QDateTime> runOutAt = std::nullopt)
{
    f.runOutAt = runOutAt;
    f.projectedUsedAtReset = projected;
    f.burnRatePercentPerHour = burn;
    f.resetAt = resetAt;
    return f;
}

ProviderSummaryInput input(Provider provider, bool showRemaining = true)
{
    ProviderSummaryInput in;
    in.provider = provider;
    in.now = kNow;
    in.showRemaining = showRemaining;
    return in;
}

// The card's visible texts by object name; absent rows are left out.
QMap<QString, QString> shown(const ProviderSummaryCard& card)
{
    QMap<QString, QString> texts;
    for (const QLabel* label : card.findChildren<QLabel*>()) {
        if (!label->objectName().isEmpty() && label->isVisibleTo(&card))
            texts.insert(label->objectName(), label->text());
    }
    for (const IconLine* line : card.findChildren<IconLine*>())
        texts.insert(line->objectName(), line->text());
    return texts;
}

TEST(ProviderSummaryCard, RowsPresentOrAbsent)
{
    using UiTest::forecast;
    struct Row
    {
        const char* name;
        ProviderSummaryInput in;
        QStringList labels; // the row labels shown, in order
    };
    ProviderSummaryInput fiveOnly = input(Provider::codex);
    fiveOnly.fiveHour = forecast(Provider::codex, WindowKind::fiveHour, 30, ForecastStatus::safe);
    ProviderSummaryInput withSonnet = input(Provider::claude);
    withSonnet.fiveHour = forecast(Provider::claude, WindowKind::fiveHour, 30, ForecastStatus::safe);
    withSonnet.longWindow = forecast(Provider::claude, WindowKind::sevenDay, 50, ForecastStatus::safe);
    withSonnet.sonnet = forecast(Provider::claude, WindowKind::weekly, 10, ForecastStatus::safe);
    ProviderSummaryInput weeklyOnly = input(Provider::claude);
    weeklyOnly.longWindow = forecast(Provider::claude, WindowKind::weekly, 50, ForecastStatus::safe);
    const Row rows[] = {
        {"five-hour only", fiveOnly, {"5h"}},
        {"seven-day and Sonnet", withSonnet, {"5h", "Window", "Sonnet"}},
        {"weekly fills the long row", weeklyOnly, {"Weekly"}},
        {"no readings: no rows, and a line instead of an empty box", input(Provider::claude), {}},
    };
    for (const Row& row : rows) {
        ProviderSummaryCard card;
        card.setCard(ProviderSummary::card(row.in));
        const auto texts = shown(card);
        QStringList labels;
        for (const char* key : {"fiveHourLabel", "longLabel", "sonnetLabel"})
            if (texts.contains(key))
                labels << texts[key];
        EXPECT_EQ(labels, row.labels) << row.name;
        EXPECT_FALSE(texts.contains("weeklyOutlook")) << row.name; // no projection, no outlook
        EXPECT_EQ(texts.value("noReadings"), row.labels.isEmpty() ? "No readings yet" : "") << row.name;
    }
    // Without a snapshot the seven-day row is "Window"; with one, its stated duration names it.
    withSonnet.longSnapshot = UiTest::reading(Provider::claude, WindowKind::sevenDay, UiTest::ago(1), 50);
    EXPECT_EQ(ProviderSummary::longRow(withSonnet)->label, "7d");
}

TEST(ProviderSummaryCard, StatusPillIsTheWorstInOrder)
{
    using UiTest::forecast;
    struct Row
    {
        ForecastStatus fiveHour;
        std::optional<ForecastStatus> weekly;
        std::optional<QString> pill;
    };
    const Row rows[] = {
        {ForecastStatus::safe, ForecastStatus::watch, "Watch"},
        {ForecastStatus::safe, ForecastStatus::unknown, "Safe"},
        {ForecastStatus::unknown, ForecastStatus::safe, "Safe"},
        {ForecastStatus::limited, ForecastStatus::risky, "Limited"},
        {ForecastStatus::noData, std::nullopt, "No data"},
    };
    for (const Row& row : rows) {
        ProviderSummaryInput in = input(Provider::codex);
        in.fiveHour = forecast(Provider::codex, WindowKind::fiveHour, 10, row.fiveHour);
        if (row.weekly)
            in.longWindow = forecast(Provider::codex, WindowKind::weekly, 10, *row.weekly);
        ProviderSummaryCard card;
        card.setCard(ProviderSummary::card(in));
        auto* pill = card.findChild<StatusPill*>("statusPill");
        ASSERT_NE(pill, nullptr);
        EXPECT_EQ(pill->text(), *row.pill);
    }
    ProviderSummaryCard empty;
    empty.setCard(ProviderSummary::card(input(Provider::codex)));
    EXPECT_EQ(empty.findChild<StatusPill*>("statusPill"), nullptr);
}

TEST(ProviderSummaryCard, TextsOfRowsOutlooksAndChips)
{
    using UiTest::forecast;
    const QString in3h45 = TimeFormatting::clock(kNow.addSecs(13500), kNow);
    const QString resetToday =
        "Resets " + kNow.addSecs(5 * 3600).toLocalTime().toString("HH:mm") +
        (kNow.toLocalTime().date() == kNow.addSecs(5 * 3600).toLocalTime().date() ? " today" : " tomorrow");
    struct Row
    {
        const char* name;
        bool showRemaining;
        ForecastResult fiveHour;
        QMap<QString, QString> expected; // "-" means absent
    };
    const Row rows[] = {
        {"risky, runs out",
         true,
         withProjection(forecast(Provider::codex, WindowKind::fiveHour, 40, ForecastStatus::risky), 120, 16,
                        kNow.addSecs(5 * 3600), kNow.addSecs(13500)),
         {{"fiveHourPercent", "60% left"},
          {"fiveHourReset", resetToday},
          {"fiveHourOutlook", "~0% left by reset · at recent pace · runs out " + in3h45 + " (3h 45m)"}}},
        {"used, safe but moving",
         false,
         withProjection(forecast(Provider::codex, WindowKind::fiveHour, 40, ForecastStatus::safe), 60, 4),
         {{"fiveHourPercent", "40% used"},
          {"fiveHourOutlook", "On track: ~60% used by reset · at recent pace"}}},
        {"safe and flat: no outlook",
         true,
         withProjection(forecast(Provider::codex, WindowKind::fiveHour, 40, ForecastStatus::safe), 41, 2),
         {{"fiveHourOutlook", "-"}}},
        {"watch without burn still shows",
         true,
         withProjection(forecast(Provider::codex, WindowKind::fiveHour, 40, ForecastStatus::watch), 41, 0.2),
         {{"fiveHourOutlook", "~59% left by reset · at recent pace"}}},
        {"over the limit shows 0 left",
         true,
         forecast(Provider::codex, WindowKind::fiveHour, 104, ForecastStatus::limited),
         {{"fiveHourPercent", "0% left"}, {"fiveHourReset", "-"}, {"fiveHourOutlook", "-"}}},
    };
    for (const Row& row : rows) {
        ProviderSummaryInput in = input(Provider::codex, row.showRemaining);
        in.fiveHour = row.fiveHour;
        ProviderSummaryCard card;
        card.setCard(ProviderSummary::card(in));
        const auto texts = shown(card);
        for (auto it = row.expected.cbegin(); it != row.expected.cend(); ++it) {
            if (it.value() == "-")
                EXPECT_FALSE(texts.contains(it.key())) << row.name << " " << it.key().toStdString();
            else
                EXPECT_EQ(texts.value(it.key()), it.value()) << row.name;
        }
    }

    // The weekly outlook names the basis; smart reads "from your history".
    ProviderSummaryInput weekly = input(Provider::claude);
    weekly.longWindow = withProjection(
        forecast(Provider::claude, WindowKind::sevenDay, 50, ForecastStatus::safe), 80, 0.4, kNow.addDays(3));
    weekly.longWindow->basis = ForecastBasis::last3h;
    weekly.headroom = "~2.2 days of your usual usage left";
    EXPECT_EQ(ProviderSummary::weeklyOutlook(weekly)->plain(), "On track: ~20% left at reset · at 3h pace");
    weekly.longWindow->basis = ForecastBasis::smart;
    EXPECT_EQ(ProviderSummary::weeklyOutlook(weekly)->plain(),
              "On track: ~20% left at reset · from your history");
    // No rate at the chosen basis: no pace that does not exist, and not the figure the row gives again.
    weekly.longWindow->basis = ForecastBasis::last1h;
    weekly.longWindow->burnRatePercentPerHour.reset();
    weekly.longWindow->humanSummary = "Not enough activity to forecast yet. Current 50%.";
    EXPECT_EQ(ProviderSummary::weeklyOutlook(weekly)->plain(), "Not enough activity to forecast yet.");
    ProviderSummaryCard card;
    card.setCard(ProviderSummary::card(weekly));
    EXPECT_EQ(shown(card).value("longHeadroom"), "~2.2 days of your usual usage left");
    EXPECT_EQ(shown(card).value("freshness"), QString());

    // Live data names its source and age, each once; demo data is one pill, "demo".
    for (const auto& [freshness, demo, shownFreshness] :
         {std::tuple{"as of 10m ago", false, "as of 10m ago"}, {"live", false, ""}, {"demo", true, ""}}) {
        ProviderSummaryInput codex = input(Provider::codex);
        codex.freshness = QString::fromLatin1(freshness);
        codex.demo = demo;
        ProviderSummaryCard tagged;
        tagged.setCard(ProviderSummary::card(codex));
        const auto texts = shown(tagged);
        EXPECT_EQ(texts.value("sourceTag"), demo ? "demo" : "live");
        EXPECT_EQ(texts.value("freshness"), QString::fromLatin1(shownFreshness)) << freshness;
    }
}

TEST(ProviderSummaryCard, ChipsFromTheNewestMetaSnapshotOrClaudesCurrentSettings)
{
    AppSettings settings = UiTest::onboarded();
    auto older = UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(30), 10);
    older.modelId = "gpt-old";
    auto newer = UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(5), 12);
    newer.modelDisplayName = "GPT-5.5";
    newer.modelId = "gpt-5.5";
    newer.effortLevel = "medium";
    newer.speedMode = "fast";
    newer.thinkingEnabled = true;
    auto plain = UiTest::reading(Provider::codex, WindowKind::fiveHour, UiTest::ago(1),
                                 13); // no meta: not a candidate
    auto claude = UiTest::reading(Provider::claude, WindowKind::fiveHour, UiTest::ago(1), 20);
    claude.modelId = "claude-sonnet";
    PublishInputs inputs;
    inputs.bundle = AppTest::bundleOf({older, newer, plain, claude});
    inputs.settings = settings;
    inputs.now = kNow;
    const auto chips = [&](Provider provider) {
        return PublishedState::make(inputs).cards.value(provider).chips;
    };
    EXPECT_EQ(chips(Provider::codex), (QStringList{"GPT-5.5", "effort: medium", "fast", "thinking"}));
    EXPECT_EQ(chips(Provider::claude), QStringList{"claude-sonnet"});
    // Claude Code's own word on its current model outranks the newest reading's.
    ClaudeEstimator::CurrentSettings current;
    current.modelDisplayName = "Opus 4.1";
    current.effortLevel = "high";
    inputs.bundle.claudeCurrent = current;
    EXPECT_EQ(chips(Provider::claude), (QStringList{"Opus 4.1", "effort: high"}));
    // Freshness: a Codex reading 1 minute old is live; Claude's latest live reading is 1 minute old.
    const PublishedState state = PublishedState::make(inputs);
    EXPECT_EQ(state.cards.value(Provider::codex).freshness, "live");
    EXPECT_EQ(state.cards.value(Provider::claude).freshness, "live");
}

} // namespace
