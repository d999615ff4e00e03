#include "ui/PanelView.h"
#include "core/SettingsStore.h"
#include "platform/LoginItemManager.h"
#include "ui/PanelWindow.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

using UiTest::forecast;
using UiTest::forecasts;

namespace {

QStringList texts(const QWidget& root)
{
    QStringList result;
    for (const QLabel* label : root.findChildren<QLabel*>())
        result.append(label->text());
    return result;
}

QAbstractButton* buttonWithToolTipOrText(const QWidget& root, const QString& name)
{
    for (QAbstractButton* button : root.findChildren<QAbstractButton*>()) {
        if (button->toolTip() == name || button->text() == name)
            return button;
    }
    return nullptr;
}

// The empty state's pill button, not the settings switch of the same name; redraws leave hidden ones behind.
QPushButton* pushButton(const QWidget& root, const QString& text)
{
    for (QPushButton* button : root.findChildren<QPushButton*>()) {
        if (button->text() == text && !button->isHidden())
            return button;
    }
    return nullptr;
}

TEST(PanelView, HeaderAndOneLinePerForecastInDisplayOrder)
{
    auto state = UiTest::makeState({});
    UiTest::publish(
        *state,
        forecasts(
            {forecast(Provider::claude, WindowKind::sevenDay, 30, ForecastStatus::safe,
                      "On track for 60% at reset"),
             forecast(Provider::codex, WindowKind::fiveHour, 70, ForecastStatus::risky, "Limit in about 40m"),
             forecast(Provider::claude, WindowKind::fiveHour, 12, ForecastStatus::safe, "Plenty left")}));
    PanelView view(*state, {});
    const QStringList shown = texts(view);
    EXPECT_TRUE(shown.contains("Tallyvane"));
    EXPECT_TRUE(shown.contains("AI coding range meter"));
    EXPECT_NE(buttonWithToolTipOrText(view, "Refresh"), nullptr);
    EXPECT_NE(buttonWithToolTipOrText(view, "Settings"), nullptr);
    EXPECT_NE(buttonWithToolTipOrText(view, "Quit"), nullptr);
    // No updater on Linux: no such button.
    EXPECT_EQ(buttonWithToolTipOrText(view, "Check for updates"), nullptr);
    EXPECT_EQ(view.lines(), (QStringList{"Codex 5h: Limit in about 40m", "Claude Code 5h: Plenty left",
                                         "Claude Code 7d: On track for 60% at reset"}));
    EXPECT_EQ(view.footerText(), "Updated " + UiTest::kNow.toLocalTime().toString("HH:mm"));

    // The lines follow the state without being rebuilt by the caller.
    UiTest::publish(*state, forecasts({forecast(Provider::codex, WindowKind::fiveHour, 90,
                                                ForecastStatus::limitLikely, "Limit in 10m")}));
    EXPECT_EQ(view.lines(), (QStringList{"Codex 5h: Limit in 10m"}));
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
    explicit LiveState(ProviderHealth::State health, AppSettings initial = {})
    {
        settingsStore.save(initial);
        AppStateEnvironment environment;
        environment.clock = [] { return UiTest::kNow; };
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
        environment.flushSave = [] {};
        state = std::make_unique<AppState>(std::move(environment));
        state->init();
        TestSupport::waitFor([&] { return state->lastRefresh().has_value(); }, 10000);
    }
    QTemporaryDir dir;
    SettingsStore settingsStore{dir.filePath("settings.json")};
    int created = 0;
    std::unique_ptr<AppState> state;
};

TEST(PanelView, EmptyStateAsksTheCodexProviderWhetherCodexIsInstalled)
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
        EXPECT_TRUE(view.lines().isEmpty());
        EXPECT_TRUE(texts(view).contains(title)) << rawValue(health).toStdString();
        EXPECT_NE(pushButton(view, "Demo mode"), nullptr);
    }
    auto state = UiTest::makeState({});
    PanelView view(*state, {});
    UiTest::publish(*state, forecasts({forecast(Provider::codex, WindowKind::fiveHour, 5,
                                                ForecastStatus::safe, "Fine")}));
    EXPECT_EQ(view.lines(), QStringList{"Codex 5h: Fine"});
}

TEST(PanelView, DemoModeSwitchRoundTripsThroughTheSavedSettings)
{
    LiveState live(ProviderHealth::State::connected);
    ASSERT_EQ(live.created, 1);
    PanelView view(*live.state, {false, true});
    auto* demo = view.findChild<QCheckBox*>("demoMode");
    ASSERT_NE(demo, nullptr);
    EXPECT_FALSE(demo->isChecked());

    demo->setChecked(true);
    EXPECT_TRUE(live.settingsStore.load().demoMode);
    EXPECT_EQ(live.state->liveProvider(Provider::codex), nullptr);
    EXPECT_TRUE(live.state->providerHealth().isEmpty());
    ASSERT_TRUE(TestSupport::waitFor([&] { return !view.lines().isEmpty(); }));
    EXPECT_EQ(view.footerText(), "Demo data");

    demo->setChecked(false);
    EXPECT_FALSE(live.settingsStore.load().demoMode);
    EXPECT_EQ(live.created, 2);
    ASSERT_NE(live.state->liveProvider(Provider::codex), nullptr);
    EXPECT_EQ(live.state->providerHealth().value(Provider::codex).state, ProviderHealth::State::connected);
    // Live again: the empty log shows the empty state, not the demo data.
    ASSERT_TRUE(TestSupport::waitFor([&] { return view.lines().isEmpty(); }));
    EXPECT_NE(view.footerText(), "Demo data");

    // The empty state's button switches it on as well, and the switch follows.
    ASSERT_NE(pushButton(view, "Demo mode"), nullptr);
    pushButton(view, "Demo mode")->click();
    EXPECT_TRUE(live.settingsStore.load().demoMode);
    EXPECT_TRUE(demo->isChecked());
}

TEST(PanelView, DemoFooterAndCapture)
{
    struct Row
    {
        bool demo;
        bool capture;
        QString footer;
    };
    const Row rows[] = {{true, false, "Demo data"}, {true, true, ""}};
    for (const Row& row : rows) {
        AppSettings settings;
        settings.demoMode = row.demo;
        auto state = UiTest::makeState(settings);
        PanelView view(*state, {row.capture, false});
        EXPECT_EQ(view.footerText(), row.footer) << row.demo << row.capture;
        // Demo mode has data at once.
        EXPECT_FALSE(view.lines().isEmpty());
    }
}

TEST(PanelView, StartSettingsOpensTheSettingsPageAndStartAtLoginWritesTheAutostartEntry)
{
    auto state = UiTest::makeState({});
    PanelView view(*state, {false, true});
    EXPECT_TRUE(view.isShowingSettings());
    auto* login = view.findChild<QCheckBox*>("startAtLogin");
    ASSERT_NE(login, nullptr);
    EXPECT_FALSE(login->isChecked());
    login->setChecked(true);
    EXPECT_TRUE(state->settings().startAtLogin);
    EXPECT_TRUE(QFile::exists(LoginItemManager::entryPath()));
    login->setChecked(false);
    EXPECT_FALSE(state->settings().startAtLogin);
    EXPECT_FALSE(QFile::exists(LoginItemManager::entryPath()));

    buttonWithToolTipOrText(view, "Back")->click();
    EXPECT_FALSE(view.isShowingSettings());
    PanelView plain(*state, {});
    EXPECT_FALSE(plain.isShowingSettings());
}

// For a person to look at: the panel with demo data, written to the build folder.
TEST(PanelView, ScreenshotWithDemoData)
{
    AppSettings settings;
    settings.demoMode = true;
    auto state = UiTest::makeState(settings);
    PanelWindow panel(new PanelView(*state, {}));
    panel.resize(460, 720);
    panel.show();
    const QString path = QStringLiteral(TALLYVANE_BINARY_DIR) + "/panel-demo.png";
    QFile::remove(path);
    const QImage image = panel.grab().toImage();
    ASSERT_TRUE(image.save(path));
    EXPECT_EQ(image.size(), QSize(460, 720));
    EXPECT_TRUE(QFile::exists(path));
}

} // namespace
