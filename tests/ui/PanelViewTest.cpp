#include "ui/PanelView.h"
#include "core/SettingsStore.h"
#include "core/TimeFormatting.h"
#include "platform/LoginItemManager.h"
#include "ui/EmptyStateView.h"
#include "ui/FooterView.h"
#include "ui/HeaderView.h"
#include "ui/ProviderSummaryCard.h"
#include "ui/SettingsView.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

using UiTest::forecast;
using UiTest::forecasts;

namespace {

template <typename T = QAbstractButton> T* named(const QWidget& root, const QString& name)
{
    return root.findChild<T*>(name);
}

AppSettings onboarded()
{
    AppSettings settings;
    settings.hasOnboarded = true;
    return settings;
}

// A live provider that only reports a fixed health.
class FixedHealthProvider final : public UsageProvider
{
public:
    explicit FixedHealthProvider(ProviderHealth health) : m_health(std::move(health)) {}
    Provider provider() const override { return Provider::codex; }
    ProviderHealth health() const override { return m_health; }
    void start(UpdateCallback) override {}
    void stop() override {}

private:
    ProviderHealth m_health;
};

// A state whose live Codex provider reports `health`, and whose settings go through a real settings file.
struct LiveState
{
    explicit LiveState(ProviderHealth::State health, AppSettings initial = onboarded())
    {
        settingsStore.save(initial);
        AppStateEnvironment environment = AppTest::environment();
        environment.providerFactory =
            [this, health](Provider provider,
                           const std::shared_ptr<SnapshotStore>&) -> std::shared_ptr<UsageProvider> {
            if (provider != Provider::codex)
                return nullptr;
            ++created;
            return std::make_shared<FixedHealthProvider>(ProviderHealth{health, "detail", {}, {}});
        };
        environment.store = std::make_shared<SnapshotStore>(dir.filePath("snapshots.ndjson"));
        environment.loadSettings = [this] { return settingsStore.load(); };
        environment.scheduleSave = [this](const AppSettings& settings) { settingsStore.save(settings); };
        state = std::make_unique<AppState>(std::move(environment));
        state->init();
        TestSupport::waitFor([&] { return state->lastRefresh().has_value(); }, 10000);
    }
    QTemporaryDir dir;
    SettingsStore settingsStore{dir.filePath("settings.json")};
    int created = 0;
    std::unique_ptr<AppState> state;
};

TEST(PanelView, FirstLaunchShowsOnlyOnboardingUntilDone)
{
    LiveState live(ProviderHealth::State::connected, AppSettings{});
    UiTest::publish(*live.state,
                    forecasts({forecast(Provider::codex, WindowKind::fiveHour, 5, ForecastStatus::safe)}));
    PanelView view(*live.state, {});
    view.show();
    EXPECT_EQ(view.screen(), PanelView::Screen::onboarding);
    // Settings cannot jump the queue either.
    view.showSettings(true);
    EXPECT_EQ(view.screen(), PanelView::Screen::onboarding);
    view.showSettings(false);

    named(view, "onboardingDone")->click();
    EXPECT_TRUE(live.settingsStore.load().hasOnboarded);
    ASSERT_TRUE(TestSupport::waitFor([&] { return view.screen() == PanelView::Screen::main; }));
    EXPECT_FALSE(view.showsEmptyState());
}

TEST(PanelView, EmptyStateUntilTheFirstSnapshotThenCardsWithoutUserAction)
{
    // The test's PATH holds no codex; the provider's own search decides.
    const std::pair<ProviderHealth::State, QString> rows[] = {
        {ProviderHealth::State::connected, "Connecting to Codex…"},
        {ProviderHealth::State::error, "Connecting to Codex…"},
        {ProviderHealth::State::unavailable, "Nothing connected yet"},
    };
    for (const auto& [health, title] : rows) {
        LiveState live(health);
        PanelView view(*live.state, {});
        view.show();
        EXPECT_EQ(view.screen(), PanelView::Screen::main);
        ASSERT_TRUE(view.showsEmptyState());
        EXPECT_EQ(view.findChild<EmptyStateView*>()->title(), title) << rawValue(health).toStdString();
        EXPECT_TRUE(view.providerCards().isEmpty());
        EXPECT_EQ(view.footerText(), "Updated " + UiTest::kNow.toLocalTime().toString("HH:mm"));
    }
    auto state = UiTest::makeState(onboarded());
    PanelView view(*state, {});
    view.show();
    ASSERT_TRUE(view.showsEmptyState());
    UiTest::publish(*state,
                    forecasts({forecast(Provider::codex, WindowKind::fiveHour, 5, ForecastStatus::safe)}));
    ASSERT_TRUE(TestSupport::waitFor([&] { return !view.showsEmptyState(); }));
    ASSERT_EQ(view.providerCards().size(), 2);
    EXPECT_EQ(view.providerCards()[0]->input().provider, Provider::codex);
    EXPECT_EQ(view.providerCards()[1]->input().provider, Provider::claude);
}

TEST(PanelView, DemoModeFromTheEmptyStateAndTheSettingsSwitch)
{
    LiveState live(ProviderHealth::State::connected);
    ASSERT_EQ(live.created, 1);
    PanelView view(*live.state, {});
    view.show();
    named(view, "emptyDemoMode")->click();
    EXPECT_TRUE(live.settingsStore.load().demoMode);
    // The live providers stop at once.
    EXPECT_EQ(live.state->liveProvider(Provider::codex), nullptr);
    EXPECT_TRUE(live.state->providerHealth().isEmpty());
    ASSERT_TRUE(TestSupport::waitFor([&] { return !view.showsEmptyState(); }));
    EXPECT_EQ(view.footerText(), "Demo data");

    view.showSettings(true);
    auto* demo = named<QCheckBox>(*view.settingsView(), "demoMode");
    EXPECT_TRUE(demo->isChecked());
    demo->setChecked(false);
    EXPECT_FALSE(live.settingsStore.load().demoMode);
    EXPECT_EQ(live.created, 2);
    EXPECT_EQ(live.state->providerHealth().value(Provider::codex).state, ProviderHealth::State::connected);
    // Live again: the empty log shows the empty state, not the demo data.
    ASSERT_TRUE(TestSupport::waitFor([&] { return view.showsEmptyState(); }));
    EXPECT_NE(view.footerText(), "Demo data");
    demo->setChecked(true);
    EXPECT_TRUE(live.settingsStore.load().demoMode);
    EXPECT_EQ(live.state->liveProvider(Provider::codex), nullptr);
}

TEST(PanelView, FooterItems)
{
    struct Row
    {
        bool demo;
        bool capture;
        bool sleep;
        QString status;
        bool bedtime;
    };
    const QString updated = "Updated " + UiTest::kNow.toLocalTime().toString("HH:mm");
    const Row rows[] = {
        {true, false, false, "Demo data", false},
        {true, true, false, "", false},
        {false, false, false, updated, false},
        {false, false, true, updated, true},
    };
    for (const Row& row : rows) {
        AppSettings settings = onboarded();
        settings.demoMode = row.demo;
        settings.sleep.enabled = row.sleep;
        auto state = UiTest::makeState(settings);
        PanelView view(*state, {row.capture, false});
        view.show();
        EXPECT_EQ(view.footerText(), row.status) << row.demo << row.capture;
        const QString bedtime = view.footer()->bedtimeText();
        EXPECT_EQ(bedtime.startsWith("Bedtime in "), row.bedtime) << bedtime.toStdString();
    }
    // The countdown to the next 23:00 local.
    AppSettings settings = onboarded();
    settings.sleep.enabled = true;
    auto state = UiTest::makeState(settings);
    PanelView view(*state, {});
    view.show();
    const QDateTime local = UiTest::kNow.toLocalTime();
    QDateTime bed(local.date(), QTime(23, 0));
    if (bed <= local)
        bed = bed.addDays(1);
    EXPECT_EQ(view.footer()->bedtimeText(),
              "Bedtime in " + TimeFormatting::countdown(static_cast<double>(local.secsTo(bed))));
}

TEST(PanelView, HeaderButtonsRefreshAndOpenSettingsAndBackReturns)
{
    auto state = UiTest::makeState(onboarded());
    PanelView view(*state, {});
    view.show();
    auto* header = view.findChild<HeaderView*>();
    EXPECT_EQ(header->refreshButton()->accessibleName(), "Refresh");
    EXPECT_EQ(header->settingsButton()->toolTip(), "Settings");
    const int cycles = state->requestedCycles();
    header->refreshButton()->click();
    EXPECT_EQ(state->requestedCycles(), cycles + 1);
    header->settingsButton()->click();
    EXPECT_EQ(view.screen(), PanelView::Screen::settings);
    named(*view.settingsView(), "back")->click();
    EXPECT_EQ(view.screen(), PanelView::Screen::main);

    PanelView startOnSettings(*state, {false, true});
    EXPECT_EQ(startOnSettings.screen(), PanelView::Screen::settings);
}

TEST(PanelView, StartAtLoginWritesTheAutostartEntry)
{
    auto state = UiTest::makeState(onboarded());
    PanelView view(*state, {false, true});
    auto* login = named<QCheckBox>(view, "startAtLogin");
    ASSERT_NE(login, nullptr);
    EXPECT_FALSE(login->isChecked());
    login->setChecked(true);
    EXPECT_TRUE(state->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(LoginItemManager::entryPath()));
    login->setChecked(false);
    EXPECT_FALSE(state->settings().startAtLogin);
    EXPECT_FALSE(QFile::exists(LoginItemManager::entryPath()));
}

} // namespace
