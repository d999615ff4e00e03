#include "app/PublishedState.h"
#include "AppTestSupport.h"
#include "app/RangeChartData.h"
#include "app/StatusSummary.h"
#include "core/io/SnapshotStore.h"
#include "core/text/TimeFormatting.h"

#include <gtest/gtest.h>

#include <cmath>

#include <QJsonObject>
#include <QTemporaryDir>

using AppTest::forecast;
const auto forecasts = AppTest::keyed;

namespace {

struct FigureCase
{
    const char* name;
    MenuBarDisplayMode mode;
    bool showRemaining;
    QSet<Provider> enabled;
    Provider focused;
    QMap<QString, ForecastResult> results;
    QString figure;
};

TEST(PublishedState, IconFigureFollowsTheDisplayMode)
{
    const auto codexSafe = forecast(Provider::codex, WindowKind::fiveHour, 42.9, ForecastStatus::safe);
    const auto claudeRisky = forecast(Provider::claude, WindowKind::fiveHour, 81.6, ForecastStatus::risky);
    const auto claudeWatch = forecast(Provider::claude, WindowKind::fiveHour, 63.5, ForecastStatus::watch);
    const auto codexWeekly = forecast(Provider::codex, WindowKind::sevenDay, 99, ForecastStatus::limitLikely);
    const QSet<Provider> both{Provider::codex, Provider::claude};
    const QSet<Provider> codexOnly{Provider::codex};
    using M = MenuBarDisplayMode;
    const auto codexAt = [](double used, ForecastStatus status) {
        return forecasts({forecast(Provider::codex, WindowKind::fiveHour, used, status)});
    };
    const FigureCase rows[] = {
        {"icon only shows no number", M::iconOnly, false, both, Provider::codex, forecasts({codexSafe}), ""},
        {"forecast mode shows a word, not a number", M::forecast, false, both, Provider::codex,
         forecasts({codexSafe, claudeRisky}), ""},
        {"compact: the most severe provider, rounded as in provider focus", M::compact, false, both,
         Provider::codex, forecasts({codexSafe, claudeWatch}), "64"},
        {"compact with remaining: 100 - 42.9 rounds to 57", M::compact, true, codexOnly, Provider::codex,
         forecasts({codexSafe}), "57"},
        {"equal severity: the fuller window, as a status bar shows it", M::compact, true, both,
         Provider::codex,
         forecasts({forecast(Provider::codex, WindowKind::fiveHour, 22, ForecastStatus::safe),
                    forecast(Provider::claude, WindowKind::fiveHour, 28, ForecastStatus::safe)}),
         "72"},
        {"provider focus rounds", M::providerFocus, false, both, Provider::codex,
         forecasts({codexSafe, claudeWatch}), "43"},
        {"provider focus follows the focused provider", M::providerFocus, false, both, Provider::claude,
         forecasts({codexSafe, claudeWatch}), "64"},
        {"provider focus falls back to the first candidate", M::providerFocus, false, codexOnly,
         Provider::claude, forecasts({codexSafe, claudeWatch}), "43"},
        {"auto with one provider is provider focus", M::autoMode, false, codexOnly, Provider::claude,
         forecasts({codexSafe}), "43"},
        {"auto with an alarming provider turns to words", M::autoMode, false, both, Provider::codex,
         forecasts({codexSafe, claudeRisky}), ""},
        {"auto with calm providers is compact", M::autoMode, false, both, Provider::codex,
         forecasts({codexSafe, claudeWatch}), "64"},
        {"only five-hour windows count", M::compact, false, both, Provider::codex, forecasts({codexWeekly}),
         ""},
        {"disabled providers are left out", M::compact, false, codexOnly, Provider::codex,
         forecasts({claudeRisky}), ""},
        {"over-used windows show 0 remaining, not a negative", M::compact, true, codexOnly, Provider::codex,
         codexAt(112, ForecastStatus::limited), "0"},
        {"a non-finite value draws nothing", M::minimal, false, codexOnly, Provider::codex,
         codexAt(std::nan(""), ForecastStatus::unknown), ""},
        {"an absurd logged value is capped, not overflowed", M::compact, false, codexOnly, Provider::codex,
         codexAt(1e20, ForecastStatus::limited), "999"},
    };
    for (const FigureCase& row : rows) {
        AppSettings settings;
        settings.menuBarDisplayMode = row.mode;
        settings.showRemaining = row.showRemaining;
        settings.enabledProviders = row.enabled;
        settings.trayProvider = row.focused;
        PublishInputs inputs;
        inputs.bundle.forecasts = row.results;
        inputs.settings = settings;
        inputs.now = AppTest::kNow;
        EXPECT_EQ(PublishedState::make(inputs).iconFigure, row.figure) << row.name;
    }
}

// With several accounts of an assistant, the tray (icon, figure, title) and the overall status follow the
// most urgent window of any of them, and the title names the account it shows.
TEST(PublishedState, TrayFollowsTheMostUrgentAccount)
{
    using M = MenuBarDisplayMode;
    using S = ForecastStatus;
    const auto claude = [](WindowKind w, double used, S status) {
        return forecast(Provider::claude, w, used, status);
    };
    const AccountForecasts defaultAccount =
        AppTest::account(true, Provider::claude, "aaaa1111", "me", "/h/.claude");
    const AccountForecasts work = AppTest::account(
        false, Provider::claude, "bbbb2222", "work", "/h/.claude-work",
        {claude(WindowKind::fiveHour, 81.6, S::risky), claude(WindowKind::sevenDay, 50, S::safe)});
    const AccountForecasts calm =
        AppTest::account(false, Provider::claude, "cccc3333", "calm", "/h/.claude-calm",
                         {claude(WindowKind::fiveHour, 5, S::safe)});
    struct Row
    {
        const char* name;
        M mode;
        QList<AccountForecasts> accounts;
        S status;
        QString title;
        QString figure;
        QString statusLine;
    };
    const Row rows[] = {
        {"one account: as ever",
         M::compact,
         {},
         S::watch,
         "AI  C 43% · Cl 64%",
         "64",
         "Watch | Codex 43% used · Claude Code 64% used"},
        {"the other account is the most urgent",
         M::compact,
         {defaultAccount, work},
         S::risky,
         "AI  C 43% · Cl 82% work",
         "82",
         "Risky | Codex 43% used · Claude Code · work 82% used"},
        {"the default account is the most urgent",
         M::minimal,
         {defaultAccount, calm},
         S::watch,
         "AI 43/64 me",
         "64",
         "Watch | Codex 43% used · Claude Code · me 64% used"},
        {"a word names its account",
         M::forecast,
         {defaultAccount, work},
         S::risky,
         "AI  Risky · work",
         "",
         "Risky | Codex 43% used · Claude Code · work 82% used"},
        {"focus shows the account's own long window",
         M::providerFocus,
         {defaultAccount, work},
         S::risky,
         "Claude Code · work 82% · 7d 50%",
         "82",
         "Risky | Codex 43% used · Claude Code · work 82% used"},
    };
    for (const Row& row : rows) {
        PublishInputs inputs;
        inputs.settings.menuBarDisplayMode = row.mode;
        inputs.settings.showRemaining = false;
        inputs.settings.enabledProviders = {Provider::codex, Provider::claude};
        inputs.settings.trayProvider = Provider::claude;
        inputs.bundle.forecasts = forecasts({forecast(Provider::codex, WindowKind::fiveHour, 42.9, S::safe),
                                             claude(WindowKind::fiveHour, 63.5, S::watch),
                                             claude(WindowKind::sevenDay, 20, S::safe)});
        inputs.bundle.accounts = row.accounts;
        inputs.now = AppTest::kNow;
        const PublishedState state = PublishedState::make(inputs);
        EXPECT_EQ(state.globalStatus, row.status) << row.name;
        EXPECT_EQ(state.title, row.title) << row.name;
        EXPECT_EQ(state.iconFigure, row.figure) << row.name;
        EXPECT_EQ(state.statusLine, row.statusLine) << row.name;
    }
}

// The welcome, the footer and an empty Codex card say what is really set up and read.
TEST(PublishedState, TextsFollowWhatIsSetUpAndRead)
{
    struct Row
    {
        const char* name;
        bool codexFound;
        bool claudeBridge;
        bool read;
        QString updated;
        QString claudeLine; // its start
        QString connect;
        QString codexHow; // its start
        QString emptyTitle;
    };
    const QString updated = "Updated " + TimeFormatting::clock(AppTest::kNow, AppTest::kNow);
    const Row rows[] = {
        {"nothing set up or read", false, false, false, "Nothing read yet", "Claude needs a one-tap bridge",
         "Connect Claude", "Codex is not installed. Install the Codex CLI", "Nothing connected yet"},
        {"bridge in place, Codex found, read", true, true, true, updated, "Claude's bridge is installed", "",
         "Codex readings arrive while the Codex CLI runs", "Connecting to Codex…"},
        {"bridge only", false, true, false, "Nothing read yet", "Claude's bridge is installed", "",
         "Codex is not installed. Install the Codex CLI", "Waiting for Claude Code"},
    };
    for (const Row& row : rows) {
        PublishInputs inputs;
        inputs.settings.enabledProviders = {Provider::codex, Provider::claude};
        inputs.codexFound = row.codexFound;
        inputs.claudeBridge = row.claudeBridge;
        inputs.lastRefresh = AppTest::kNow;
        if (row.read)
            inputs.bundle.snapshots = QList<UsageSnapshot>{TestSupport::reading(
                Provider::claude, WindowKind::fiveHour, AppTest::kNow, 10, AppTest::kNow.addSecs(3600))};
        inputs.now = AppTest::kNow;
        const PublishedState state = PublishedState::make(inputs);
        EXPECT_EQ(state.updated, row.updated) << row.name;
        EXPECT_TRUE(state.welcomeClaudeLine.startsWith(row.claudeLine)) << row.name;
        EXPECT_EQ(state.connectClaudeLabel, row.connect) << row.name;
        EXPECT_TRUE(state.cards.value(Provider::codex).whatBringsReadings.startsWith(row.codexHow))
            << row.name;
        EXPECT_EQ(state.emptyTitle, row.emptyTitle) << row.name;
    }
}

} // namespace

namespace {

QList<UsageSnapshot> ramp(Provider provider, WindowKind window, double from, double to, int minutes,
                          const QDateTime& resetAt, int endedMinutesAgo = 5)
{
    QList<UsageSnapshot> list;
    for (int i = 0; i <= 6; ++i) {
        const QDateTime at = AppTest::kNow.addSecs(-60 * (endedMinutesAgo + minutes * (6 - i) / 6));
        UsageSnapshot s = TestSupport::reading(provider, window, at, from + (to - from) * i / 6, resetAt);
        s.windowDurationMins = window == WindowKind::fiveHour ? 300 : 10080;
        list.append(s);
    }
    return list;
}

} // namespace

// One crafted log per case through a real cycle: every text that names a run-out names the forecast's own
// instant, now plus the time to limit, with its day when that is not today; a window past its reset names
// none and reads as fresh.
TEST(PublishedState, EveryTextCountsToTheForecastsRunOut)
{
    using AppTest::kNow;
    struct Case
    {
        const char* name;
        QList<UsageSnapshot> log;
        bool sleep;
        const char* id;
        bool runsOut;
        const char* percent; // the card's figure, with its word
    };
    const Case cases[] = {
        {"heading for the limit",
         ramp(Provider::codex, WindowKind::fiveHour, 40, 60, 60, kNow.addSecs(4 * 3600)), false,
         "codex-fiveHour", true, "40% left"},
        {"beyond today", ramp(Provider::codex, WindowKind::sevenDay, 30, 40, 600, kNow.addDays(5)), false,
         "codex-sevenDay", true, "60% left"},
        {"past its reset", ramp(Provider::claude, WindowKind::fiveHour, 80, 97, 60, kNow.addSecs(-270)),
         false, "claude-fiveHour", false, "100% left"},
        {"idle", ramp(Provider::codex, WindowKind::fiveHour, 30, 30, 60, kNow.addSecs(4 * 3600)), false,
         "codex-fiveHour", false, "70% left"},
        {"sleep on", ramp(Provider::codex, WindowKind::sevenDay, 30, 40, 600, kNow.addDays(5)), true,
         "codex-sevenDay", true, "60% left"},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        auto store = std::make_shared<SnapshotStore>(dir.filePath(QStringLiteral("snapshots.ndjson")));
        store->append(c.log);
        AppSettings settings;
        settings.forecastBasis = ForecastBasis::last1h;
        if (QString::fromLatin1(c.id).endsWith(QLatin1String("sevenDay")))
            settings.forecastBasis = ForecastBasis::last24h;
        settings.sleep.enabled = c.sleep;
        PublishInputs inputs;
        inputs.bundle =
            AppState::compute({settings, StateQueries::sortedEnabledProviders(settings), store, kNow,
                               &AppTest::kNowClock, std::nullopt, nullptr, nullptr, nullptr, nullptr});
        inputs.settings = settings;
        inputs.now = kNow;
        const PublishedState state = PublishedState::make(inputs);
        const ForecastResult f = state.bundle.forecasts.value(QString::fromLatin1(c.id));
        ASSERT_EQ(f.runOutAt.has_value(), c.runsOut) << c.name;
        ASSERT_EQ(f.estimatedTimeToLimit.has_value(), c.runsOut) << c.name;

        QStringList texts; // every run-out text a face shows for this window
        for (const CardRow& row : state.cards.value(f.provider).rows) {
            if (row.window != f.windowKind)
                continue;
            EXPECT_EQ(row.text.percent, c.percent) << c.name;
            if (row.outlook && !row.outlook->runOut.isEmpty())
                texts.append(row.outlook->runOut);
        }
        const QJsonObject summary = StatusSummary::content(state.bundle.forecasts, state.settings, kNow)
                                        .value("windows")
                                        .toObject()
                                        .value(QString::fromLatin1(c.id))
                                        .toObject();
        if (summary.contains("runsOut"))
            texts.append(summary.value("runsOut").toString());
        const RangeChartData chart = RangeChartData::of(state.bundle, f, kNow);
        if (!c.runsOut) {
            EXPECT_EQ(texts, QStringList()) << c.name;
            EXPECT_FALSE(chart.runOutAt) << c.name;
            EXPECT_EQ(PublishedState::limitPhrase(f), "no limit before reset") << c.name;
            continue;
        }
        EXPECT_NEAR(static_cast<double>(kNow.msecsTo(*f.runOutAt)) / 1000.0, *f.estimatedTimeToLimit, 1)
            << c.name;
        const QString clock = TimeFormatting::clock(f.runOutAt, kNow);
        EXPECT_EQ(clock.contains(u' '), f.runOutAt->toLocalTime().date() != kNow.toLocalTime().date())
            << c.name;
        EXPECT_EQ(texts.size(), 2) << c.name << ": the card's outlook and the status line";
        for (const QString& text : texts)
            EXPECT_TRUE(text.contains(clock))
                << c.name << ": " << text.toStdString() << " vs " << clock.toStdString();
        EXPECT_EQ(chart.runOutAt, f.runOutAt) << c.name;
        EXPECT_EQ(PublishedState::limitPhrase(f),
                  "limit in " + TimeFormatting::countdown(f.estimatedTimeToLimit))
            << c.name;
    }
}
