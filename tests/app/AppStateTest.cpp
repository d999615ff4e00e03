#include "app/AppState.h"

#include "AppTestSupport.h"
#include "app/StatusSummary.h"
#include "core/forecast/ForecastEngine.h"
#include "core/forecast/PaceCalculator.h"
#include "core/io/AccountList.h"
#include "core/io/SnapshotStore.h"
#include "history/ClaudeFiles.h"
#include "history/TranscriptCorpus.h"
#include "history/UsageHistory.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace AppTest;

namespace {

using P = Provider;
using W = WindowKind;
using S = ForecastStatus;

// A state on a fixed clock, a temporary log and recorded saves; providers come from the fakes' factory.
struct Harness
{
    explicit Harness(AppSettings initial, bool withFactory = true, bool watchLog = false)
    {
        store = std::make_shared<SnapshotStore>(dir.filePath(QStringLiteral("snapshots.ndjson")));
        AppStateEnvironment env = environment(initial);
        env.store = store;
        env.watchLog = watchLog;
        env.scheduleSave = [this](const AppSettings& s) { saves.append(s); };
        env.providerFactory = [this, withFactory](Provider kind, const std::shared_ptr<SnapshotStore>& shared)
            -> std::shared_ptr<UsageProvider> {
            EXPECT_EQ(shared, store);
            if (!withFactory)
                return nullptr; // a provider this build cannot run
            auto fake = std::make_shared<FakeProvider>(
                kind, ProviderHealth{ProviderHealth::State::connected,
                                     QStringLiteral("fake %1").arg(created.size()), kNow, std::nullopt});
            created.append(fake);
            return fake;
        };
        env.accountProviderFactory = [this](const AccountFolders::Account& account,
                                            const std::shared_ptr<SnapshotStore>&) {
            auto fake = std::make_shared<FakeProvider>(account.folder.provider, ProviderHealth{});
            accounts.append({account.folder.folder, fake});
            return fake;
        };
        state = std::make_unique<AppState>(env);
    }

    // Waits until every cycle requested is applied, including the one a request made while a cycle was under
    // way asks for once that cycle ends.
    bool settle()
    {
        return TestSupport::waitFor([&] { return finished >= state->requestedCycles(); });
    }

    void init()
    {
        QObject::connect(state.get(), &AppState::cycleFinished, [this] { ++finished; });
        state->init();
    }

    std::shared_ptr<FakeProvider> latest(Provider kind) const
    {
        for (auto it = created.crbegin(); it != created.crend(); ++it)
            if ((*it)->provider() == kind)
                return *it;
        return nullptr;
    }

    QTemporaryDir dir;
    std::shared_ptr<SnapshotStore> store;
    QList<AppSettings> saves;
    QList<std::shared_ptr<FakeProvider>> created;
    // Each other account's provider as made, with the folder it reads.
    QList<std::pair<QString, std::shared_ptr<FakeProvider>>> accounts;
    int finished = 0;
    std::unique_ptr<AppState> state;
};

AppSettings demoSettings()
{
    AppSettings s;
    s.demoMode = true;
    return s;
}

TEST(AppStateRetention, StartPrunesTheLogToTheRetentionSetting)
{
    AppSettings settings;
    settings.retentionDays = 7;
    Harness h(settings);
    h.store->append({snap(P::codex, W::fiveHour, 8 * 86'400, 10), snap(P::codex, W::fiveHour, 60, 12)});
    h.init();
    EXPECT_TRUE(TestSupport::waitFor([&] { return h.store->all().size() == 1; }));
}

TEST(AppStateCycle, DemoCyclePublishesBothProvidersWithoutRunningAny)
{
    Harness h(demoSettings());
    h.store->append(snap(P::codex, W::monthly, 60, 5)); // demo mode never reads the log
    h.init();
    ASSERT_TRUE(h.settle());
    const AppState& state = *h.state;

    ASSERT_EQ(state.workingSnapshots().size(), 46);
    EXPECT_EQ(state.workingSnapshots().first().provider, P::codex);
    EXPECT_EQ(state.workingSnapshots()[23].provider, P::claude);
    EXPECT_EQ(state.forecasts().keys(),
              (QList<QString>{"claude-fiveHour", "claude-sevenDay", "codex-fiveHour", "codex-sevenDay"}));
    EXPECT_EQ(state.paces().keys(), (QList<Provider>{P::codex, P::claude}));
    EXPECT_TRUE(state.calibrated().isEmpty());
    EXPECT_TRUE(state.providerHealth().isEmpty());
    EXPECT_TRUE(h.created.isEmpty());
    EXPECT_EQ(state.lastRefresh(), kNow);
    // The weekly rule re-classifies the long windows of demo data too: never limitLikely there.
    EXPECT_NE(state.forecast(P::claude, W::sevenDay)->status, S::limitLikely);
    EXPECT_FALSE(state.recommendations().isEmpty());
    // Loading is not a change: nothing is saved at start-up.
    EXPECT_TRUE(h.saves.isEmpty());
}

TEST(AppStateCycle, LastRefreshMovesOnlyWhenSomethingWasPublished)
{
    const struct
    {
        const char* name;
        bool startPublished; // a first bundle applied at t0
        bool changeSnapshots;
        bool freshRecommendation;
        bool expectNewRefresh;
    } rows[] = {
        {"first cycle always stamps", false, false, false, true},
        {"identical bundle keeps it", true, false, false, false},
        {"new snapshot moves it", true, true, false, true},
        {"fresh recommendation moves it", true, false, true, true},
    };
    for (const auto& c : rows) {
        Harness h(AppSettings{});
        AppState& state = *h.state;
        ForecastBundle bundle;
        bundle.snapshots = {snap(P::codex, W::fiveHour, 60, 10)};
        bundle.forecasts.insert("codex-fiveHour", forecast(P::codex, W::fiveHour, 10));
        bundle.recommendations = {Recommendation{}};
        const QDateTime t0 = kNow.addSecs(-30);
        if (c.startPublished)
            state.apply(bundle, AppSettings{}, t0);

        ForecastBundle next = bundle;
        if (c.changeSnapshots)
            next.snapshots.append(snap(P::codex, W::fiveHour, 0, 11));
        if (c.freshRecommendation)
            next.recommendations = {Recommendation{}};
        int changed = 0, snapshotsChanged = 0, finished = 0;
        QObject::connect(&state, &AppState::changed, [&] { ++changed; });
        QObject::connect(&state, &AppState::workingSnapshotsChanged, [&] { ++snapshotsChanged; });
        QObject::connect(&state, &AppState::cycleFinished, [&] { ++finished; });
        state.apply(next, AppSettings{}, kNow);

        EXPECT_EQ(state.lastRefresh(), c.expectNewRefresh ? kNow : t0) << c.name;
        EXPECT_EQ(changed, c.expectNewRefresh ? 1 : 0) << c.name;
        EXPECT_EQ(snapshotsChanged, (c.changeSnapshots || !c.startPublished) ? 1 : 0) << c.name;
        EXPECT_EQ(finished, 1) << c.name;
    }
}

TEST(AppStateFocus, AutomaticFocusFollowsTheMostUrgentSeriesSavingOnceWhenItMoves)
{
    const struct
    {
        const char* name;
        bool focusAuto;
        Provider focusedProvider;
        WindowKind focusedWindow;
        bool saves;
        Provider expectedProvider;
        WindowKind expectedWindow;
    } rows[] = {
        {"both fields move", true, P::codex, W::fiveHour, true, P::claude, W::sevenDay},
        {"only the window moves", true, P::claude, W::fiveHour, true, P::claude, W::sevenDay},
        {"only the provider moves", true, P::codex, W::sevenDay, true, P::claude, W::sevenDay},
        {"already there", true, P::claude, W::sevenDay, false, P::claude, W::sevenDay},
        {"manual focus stays", false, P::codex, W::fiveHour, false, P::codex, W::fiveHour},
    };
    // Claude's weekly window runs out in an hour; Codex's five-hour window has no run-out.
    ForecastBundle bundle =
        bundleOf({snap(P::codex, W::fiveHour, 60, 40), snap(P::claude, W::sevenDay, 60, 90)});
    bundle.forecasts.insert("codex-fiveHour", forecast(P::codex, W::fiveHour, 40, S::watch));
    bundle.forecasts.insert("claude-sevenDay",
                            forecast(P::claude, W::sevenDay, 90, S::risky, 3'600, kNow.addSecs(3'600)));
    for (const auto& c : rows) {
        AppSettings settings;
        settings.focusAuto = c.focusAuto;
        settings.focusedProvider = c.focusedProvider;
        settings.focusedWindow = c.focusedWindow;
        Harness h(settings);
        h.state->setSettings(settings);
        h.saves.clear();
        h.state->apply(bundle, settings, kNow);

        EXPECT_EQ(h.state->settings().focusedProvider, c.expectedProvider) << c.name;
        EXPECT_EQ(h.state->settings().focusedWindow, c.expectedWindow) << c.name;
        ASSERT_EQ(h.saves.size(), c.saves ? 1 : 0) << c.name;
        EXPECT_TRUE(!c.saves || h.saves.first() == h.state->settings()) << c.name;
    }
}

TEST(AppStateFocus, SetFocusedProviderPicksTheWindowAndTurnsAutomaticFocusOff)
{
    const struct
    {
        const char* name;
        QList<WindowKind> codexWindows;
        Provider focusedProvider;
        WindowKind focusedWindow;
        WindowKind expectedWindow;
    } rows[] = {
        {"keeps five-hour when Codex has it",
         {W::fiveHour, W::sevenDay},
         P::claude,
         W::fiveHour,
         W::fiveHour},
        {"only seven-day", {W::sevenDay}, P::claude, W::fiveHour, W::sevenDay},
        {"prefers a long window", {W::monthly, W::fiveHour, W::weekly}, P::claude, W::unknown, W::weekly},
        {"first candidate without a long window",
         {W::monthly, W::fiveHour},
         P::claude,
         W::sevenDay,
         W::fiveHour},
        {"no candidates keeps the window", {}, P::claude, W::sevenDay, W::sevenDay},
        {"already focused only stops automatic focus", {W::sevenDay}, P::codex, W::fiveHour, W::fiveHour},
    };
    for (const auto& c : rows) {
        Harness h(AppSettings{});
        AppSettings settings;
        settings.focusedProvider = c.focusedProvider;
        settings.focusedWindow = c.focusedWindow;
        h.state->setSettings(settings);
        QList<UsageSnapshot> snapshots{snap(P::claude, W::fiveHour, 60, 10),
                                       snap(P::claude, W::sevenDay, 60, 10)};
        for (WindowKind w : c.codexWindows)
            snapshots.append(snap(P::codex, w, 30, 10));
        AppSettings manual = settings;
        manual.focusAuto = false;
        h.state->apply(bundleOf(snapshots), manual, kNow);
        h.saves.clear();

        h.state->setFocusedProvider(P::codex);

        EXPECT_FALSE(h.state->settings().focusAuto) << c.name;
        EXPECT_EQ(h.state->settings().focusedProvider, P::codex) << c.name;
        EXPECT_EQ(h.state->settings().focusedWindow, c.expectedWindow) << c.name;
        // One action, one assignment: a single save of the final settings.
        ASSERT_EQ(h.saves.size(), 1) << c.name;
        EXPECT_TRUE(h.saves.first() == h.state->settings()) << c.name;
    }
}

TEST(AppStateProviders, ToggleStopsAndDropsTheProviderAndRecomputesWithoutIt)
{
    Harness h(AppSettings{});
    h.store->append({snap(P::codex, W::fiveHour, 600, 10), snap(P::codex, W::fiveHour, 0, 12),
                     snap(P::claude, W::fiveHour, 600, 30), snap(P::claude, W::fiveHour, 0, 35)});
    h.init();
    ASSERT_TRUE(h.settle());
    ASSERT_EQ(h.created.size(), 2);
    const auto claude = h.latest(P::claude);
    ASSERT_TRUE(claude);
    EXPECT_EQ(claude->starts, 1);
    EXPECT_EQ(h.state->providerHealth().keys(), (QList<Provider>{P::codex, P::claude}));
    EXPECT_TRUE(h.state->forecast(P::claude, W::fiveHour).has_value());

    h.state->toggleProvider(P::claude, false);

    EXPECT_EQ(claude->stops, 1);
    EXPECT_EQ(h.state->liveProvider(P::claude), nullptr);
    ASSERT_TRUE(h.state->liveProvider(P::codex));
    EXPECT_EQ(h.latest(P::codex)->starts, 1);
    EXPECT_EQ(h.created.first()->stops, 1) << "providers are recreated, never restarted";
    EXPECT_EQ(h.state->providerHealth().keys(), QList<Provider>{P::codex});
    ASSERT_FALSE(h.saves.isEmpty());
    EXPECT_EQ(h.saves.last().enabledProviders, QSet<Provider>{P::codex});

    ASSERT_TRUE(h.settle());
    EXPECT_FALSE(h.state->forecast(P::claude, W::fiveHour).has_value());
    EXPECT_TRUE(h.state->forecast(P::codex, W::fiveHour).has_value());
    for (const UsageSnapshot& s : h.state->workingSnapshots())
        EXPECT_EQ(s.provider, P::codex);
}

TEST(AppStateProviders, AccountsJsonChangedUnderARunningStateStartsAndStopsTheAccountsProviders)
{
    // Folders with no sign-in files, keyed by their paths: enough to tell accounts apart.
    const QString work = TestSupport::homePath() + "/claude-work";
    const QString side = TestSupport::homePath() + "/claude-side";
    const auto write = [&](bool workOn, bool sideOn, const QString& sideLabel) {
        return AccountList::save({{P::claude, work, "Work", false, true, workOn},
                                  {P::claude, side, sideLabel, false, true, sideOn}});
    };
    ASSERT_TRUE(write(true, false, {}));
    Harness h(AppSettings{});
    h.init();
    const auto running = [&] {
        QStringList folders;
        for (const AccountFolders::Account& account : h.state->runningAccounts())
            folders.append(account.folder.folder);
        return folders;
    };
    ASSERT_EQ(running(), QStringList{work});
    const auto workProvider = h.accounts.first().second;
    EXPECT_EQ(workProvider->starts, 1);

    // As `tallyvane accounts` writes it while the tray runs.
    ASSERT_TRUE(write(false, true, {}));
    ASSERT_TRUE(TestSupport::waitFor([&] { return running() == QStringList{side}; }));
    EXPECT_EQ(workProvider->stops, 1);
    ASSERT_EQ(h.accounts.size(), 2);
    EXPECT_EQ(h.accounts.last().first, side);
    EXPECT_EQ(h.accounts.last().second->starts, 1);

    // A new label is shown, and changes nothing that runs.
    ASSERT_TRUE(write(false, true, "Side B"));
    const auto sideLabel = [&] {
        for (const AccountSettings::Entry& entry : h.state->accountFolders())
            if (entry.folder.folder == side)
                return entry.label;
        return QString();
    };
    ASSERT_TRUE(TestSupport::waitFor([&] { return sideLabel() == "Side B"; }));
    EXPECT_EQ(h.accounts.size(), 2);
    EXPECT_EQ(h.accounts.last().second->stops, 0);

    // Claude switched off stops its other accounts too.
    h.state->toggleProvider(P::claude, false);
    EXPECT_TRUE(running().isEmpty());
    EXPECT_EQ(h.accounts.last().second->stops, 1);
    QFile::remove(AccountList::path());
}

TEST(AppStateHistory, EveryTranscriptScanAndItsTimerStartACycle)
{
    QTemporaryDir transcripts;
    UsageHistory::Options options;
    options.cachePath = transcripts.filePath(QStringLiteral("cache.json"));
    options.claudeRoots = {transcripts.path()};
    options.codexRoots = {transcripts.path()};
    AppStateEnvironment env = environment();
    env.store = std::make_shared<SnapshotStore>(transcripts.filePath(QStringLiteral("snapshots.ndjson")));
    env.history = std::make_shared<UsageHistory>(options);
    env.historyIntervalMs = 20;
    AppState state(env);
    state.init();
    // The first cycle, then one per finished scan: the one at start and those of the timer.
    EXPECT_TRUE(TestSupport::waitFor([&] { return state.requestedCycles() >= 4; }));
    EXPECT_TRUE(QFile::exists(options.cachePath));
}

// The bridge appends Claude Code's reading from its own process; the status line's next turn reads the
// summary, which must hold that reading by then and not wait for the 30 s refresh.
TEST(AppStateSummary, AReadingAppendedByAnotherProcessIsInTheSummaryWithinSeconds)
{
    Harness h(AppSettings{}, true, true);
    const QString log = h.dir.filePath(QStringLiteral("snapshots.ndjson"));
    const QString summary = h.dir.filePath(QStringLiteral("statusline-summary.json"));
    h.store->append({snap(P::claude, W::fiveHour, 600, 10)});
    StatusSummaryPublisher publisher(summary);
    publisher.follow(*h.state);
    h.init();
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(TestSupport::readFile(summary).contains("\"90% left\""));
    const int cycles = h.state->requestedCycles();
    SnapshotStore bridge(log);
    bridge.append({snap(P::claude, W::fiveHour, 0, 37)});
    EXPECT_TRUE(
        TestSupport::waitFor([&] { return TestSupport::readFile(summary).contains("\"63% left\""); }, 5000))
        << TestSupport::readFile(summary).toStdString();
    EXPECT_LE(h.state->requestedCycles(), cycles + 2) << "one refresh for the append, not one per change";
}

TEST(AppStateProviders, AReportFromAnyThreadSchedulesACycle)
{
    Harness h(AppSettings{});
    h.init();
    ASSERT_TRUE(h.settle());
    const int before = h.state->requestedCycles();
    h.store->append(snap(P::codex, W::fiveHour, 0, 50));
    h.latest(P::codex)->reportFromAnotherThread();
    ASSERT_TRUE(TestSupport::waitFor([&] { return h.state->requestedCycles() == before + 1; }));
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(h.state->forecast(P::codex, W::fiveHour).has_value());
    EXPECT_DOUBLE_EQ(h.state->forecast(P::codex, W::fiveHour)->currentUsedPercent, 50);
}

TEST(AppStateProviders, RequestsWhileACycleIsPendingCoalesceIntoOneMore)
{
    Harness h(AppSettings{});
    h.init();
    ASSERT_TRUE(h.settle());
    const int before = h.state->requestedCycles();
    for (int i = 0; i < 5; ++i)
        h.state->refresh();
    EXPECT_EQ(h.state->requestedCycles(), before + 1);
    ASSERT_TRUE(h.settle());
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.state->requestedCycles(), before + 2);
}

TEST(AppStateProviders, NoFactoryProviderMeansNoHealthEntry)
{
    Harness h(AppSettings{}, false);
    h.init();
    ASSERT_TRUE(h.settle());
    EXPECT_TRUE(h.state->providerHealth().isEmpty());
    EXPECT_EQ(h.state->liveProvider(P::codex), nullptr);
}

TEST(AppStateProviders, DestroyingTheStateStopsProvidersAndDropsItsPendingCycle)
{
    auto h = std::make_unique<Harness>(AppSettings{});
    h->init();
    const auto codex = h->latest(P::codex);
    ASSERT_TRUE(codex);
    h->state->refresh();
    h->state.reset(); // cycles still queued
    EXPECT_EQ(codex->stops, 1);
    // The queued applies find the state gone; a call queued after them runs after them.
    bool drained = false;
    const auto drain = [&] { drained = true; };
    QMetaObject::invokeMethod(QCoreApplication::instance(), drain, Qt::QueuedConnection);
    ASSERT_TRUE(TestSupport::waitFor([&] { return drained; }));
    EXPECT_EQ(codex->stops, 1);
}

TEST(AppStateBasis, ThePickedBasisChangesTheViewAndRecomputesWithoutSaving)
{
    Harness h(AppSettings{});
    h.store->append({snap(P::codex, W::fiveHour, 600, 10), snap(P::codex, W::fiveHour, 0, 12)});
    h.init();
    ASSERT_TRUE(h.settle());
    const int cycles = h.state->requestedCycles();

    h.state->setBasis(h.state->settings().forecastBasis);
    QCoreApplication::processEvents();
    EXPECT_EQ(h.state->requestedCycles(), cycles);
    EXPECT_TRUE(h.saves.isEmpty());

    const ForecastBasis saved = h.state->settings().forecastBasis;
    h.state->setBasis(ForecastBasis::last3h);
    EXPECT_TRUE(h.saves.isEmpty());
    EXPECT_EQ(h.state->settings().forecastBasis, saved);
    EXPECT_EQ(h.state->shownBasis(), ForecastBasis::last3h);
    // The cycle is queued, not run inside the call.
    EXPECT_EQ(h.state->requestedCycles(), cycles);
    ASSERT_TRUE(TestSupport::waitFor([&] { return h.state->requestedCycles() == cycles + 1; }));
    ASSERT_TRUE(h.settle());
    EXPECT_EQ(h.state->forecast(P::codex, W::fiveHour)->basis, ForecastBasis::last3h);

    // A new default from the settings screen is saved and shown from then on.
    h.state->setDefaultBasis(ForecastBasis::last30m);
    EXPECT_EQ(h.state->shownBasis(), ForecastBasis::last30m);
    ASSERT_EQ(h.saves.size(), 1);
    EXPECT_EQ(h.saves.first().forecastBasis, ForecastBasis::last30m);
}

// compute on its own, over a real log.
struct ComputeFixture : ::testing::Test
{
    QTemporaryDir dir;
    std::shared_ptr<SnapshotStore> store =
        std::make_shared<SnapshotStore>(dir.filePath(QStringLiteral("snapshots.ndjson")));

    ForecastBundle compute(const AppSettings& settings, std::optional<QDateTime> ignoreAfter = std::nullopt)
    {
        return AppState::compute({settings, StateQueries::sortedEnabledProviders(settings), store, kNow,
                                  &kNowClock, ignoreAfter, nullptr, nullptr, nullptr, nullptr});
    }
};

// Disabled providers and replayed instants are the series cache's table; here what compute adds on top.
TEST_F(ComputeFixture, LongWindowGetsPaceAndTheWeeklyStatusRule)
{
    // 80 % → 96 % within the last hour: the engine alone would call the limit likely within the hour.
    QList<UsageSnapshot> weekly;
    for (int i = 0; i <= 8; ++i)
        weekly.append(snap(P::codex, W::sevenDay, 3'600 - i * 450, 80 + 2 * i, 3 * 86'400));
    store->append(weekly);
    AppSettings settings;
    settings.enabledProviders = {P::codex};
    const ForecastBundle bundle = compute(settings);

    const ForecastResult raw =
        ForecastEngine::forecast(P::codex, W::sevenDay, weekly, settings.forecastBasis, settings.sleep, kNow);
    ASSERT_EQ(raw.status, S::limitLikely) << "the case must exercise the re-classification";
    const ForecastResult published = bundle.forecasts.value("codex-sevenDay");
    EXPECT_EQ(published.status, S::risky);
    EXPECT_TRUE(bundle.paces.contains(P::codex));
    EXPECT_FALSE(bundle.recommendations.isEmpty());
}

TEST_F(ComputeFixture, SonnetWeeklyKeepsItsForecastButNeverSpeaksForTheAccount)
{
    // The Sonnet limit (weekly) appears before the account's seven-day window and is nearly used up.
    store->append(
        {snap(P::claude, W::weekly, 600, 97, 3 * 86'400), snap(P::claude, W::sevenDay, 600, 20, 3 * 86'400),
         snap(P::claude, W::weekly, 0, 98, 3 * 86'400), snap(P::claude, W::sevenDay, 0, 21, 3 * 86'400)});
    const AppSettings settings;
    const ForecastBundle bundle = compute(settings);
    const PaceResult weeklyPace =
        PaceCalculator::pace(snap(P::claude, W::sevenDay, 0, 21, 3 * 86'400),
                             settings.weeklyDailyTargetPercent, settings.sleep, kNow);
    EXPECT_EQ(bundle.paces.value(P::claude), weeklyPace);
    // Its own forecast under the weekly status rule, never the engine's "limit likely".
    EXPECT_EQ(bundle.forecasts.value("claude-weekly").status, S::risky);

    // Without a seven-day window the Sonnet one is the long window.
    store = std::make_shared<SnapshotStore>(dir.filePath(QStringLiteral("sonnet.ndjson")));
    store->append({snap(P::claude, W::weekly, 0, 98, 3 * 86'400)});
    EXPECT_EQ(compute(settings).paces.value(P::claude),
              PaceCalculator::pace(snap(P::claude, W::weekly, 0, 98, 3 * 86'400),
                                   settings.weeklyDailyTargetPercent, settings.sleep, kNow));
}

TEST_F(ComputeFixture, MonthlyOnlyProviderIsForecastWithoutPace)
{
    store->append({snap(P::claude, W::monthly, 600, 10), snap(P::claude, W::monthly, 0, 11)});
    const ForecastBundle bundle = compute(AppSettings{});
    EXPECT_EQ(bundle.forecasts.keys(), QList<QString>{"claude-monthly"});
    EXPECT_TRUE(bundle.paces.isEmpty());
}

} // namespace

TEST_F(ComputeFixture, AnotherClaudeAccountIsEstimatedFromItsOwnReadingsAndTranscriptsOnly)
{
    const QString work = QStringLiteral("a1b2c3d4");
    const auto reply = [](qint64 secondsAgo, const char* id) {
        return Corpus::line(Corpus::claudeReply(kNow.addSecs(-secondsAgo).toMSecsSinceEpoch(), id, id,
                                                "claude-sonnet-4-5", {1000, 0, 0, 0}));
    };
    // The default account's transcripts are busier: counted for the work account they would move it more.
    ASSERT_TRUE(TestSupport::writeFile(dir.filePath("work/projects/p/s.jsonl"), reply(1800, "w1")));
    ASSERT_TRUE(TestSupport::writeFile(dir.filePath("mine/projects/p/s.jsonl"),
                                       reply(1700, "m1") + reply(500, "m2") + reply(400, "m3")));
    QDir(dir.path()).mkpath("data/accounts");
    UsageHistory::Options options;
    options.cachePath = dir.filePath("cache.json");
    options.claudeRoots = {dir.filePath("mine/projects")};
    options.accountRoots = {{P::claude, work, {dir.filePath("work/projects")}}};
    options.clock = &kNowClock;
    options.readOnly = true;
    options.countInline = true;
    options.rollTtlSeconds = 0;
    options.watch.enabled = false;
    auto history = std::make_shared<UsageHistory>(options);
    history->refreshSync();
    auto files = std::make_shared<ClaudeFiles>(dir.filePath("data"));
    UsageSnapshot reading = snap(P::claude, W::fiveHour, 1200, 10);
    reading.source = QStringLiteral("claude.oauth");
    reading.account = work;
    store->append(reading);
    AppSettings settings;
    settings.enabledProviders = {P::claude};
    const auto at = [&](const QDateTime& now) {
        return AppState::compute(
            {settings, {P::claude}, store, now, nullptr, std::nullopt, nullptr, history, files, nullptr});
    };
    // Fresh five minutes after it was taken: it anchors the work account's own files, nothing of the
    // default's.
    (void)at(kNow.addSecs(-900));
    EXPECT_TRUE(ClaudeEstimator::loadAnchor(*ClaudeFiles::forAccount(*files, work)).fiveHour);
    EXPECT_FALSE(ClaudeEstimator::loadAnchor(*files).fiveHour);
    // Stale now: the work account's 1,000 tokens since then double its 10 %.
    ASSERT_TRUE(TestSupport::appendFile(dir.filePath("work/projects/p/s.jsonl"), reply(600, "w2")));
    history->refreshSync();
    const ForecastBundle bundle = at(kNow);
    const auto account = std::find_if(bundle.accounts.cbegin(), bundle.accounts.cend(),
                                      [&](const AccountForecasts& a) { return a.key == work; });
    ASSERT_NE(account, bundle.accounts.cend());
    ASSERT_FALSE(account->latest.isEmpty());
    EXPECT_EQ(account->latest.first().source, QStringLiteral("claude.transcript"));
    EXPECT_EQ(account->latest.first().account, work);
    EXPECT_DOUBLE_EQ(account->latest.first().usedPercent, 20);
    EXPECT_FALSE(ClaudeEstimator::loadAnchor(*files).fiveHour);
}
