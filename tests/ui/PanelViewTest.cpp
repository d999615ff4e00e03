#include "ui/PanelView.h"
#include "platform/LoginItemManager.h"
#include "ui/PanelWindow.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QFile>
#include <QLabel>

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

TEST(PanelView, EmptyStateUntilTheFirstSnapshot)
{
    auto state = UiTest::makeState({});
    PanelView view(*state, {});
    EXPECT_TRUE(view.lines().isEmpty());
    EXPECT_TRUE(texts(view).contains("Nothing connected yet"));
    EXPECT_NE(buttonWithToolTipOrText(view, "Demo mode"), nullptr);
    UiTest::publish(*state, forecasts({forecast(Provider::codex, WindowKind::fiveHour, 5,
                                                ForecastStatus::safe, "Fine")}));
    EXPECT_EQ(view.lines(), QStringList{"Codex 5h: Fine"});
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
    auto* login = view.findChild<QCheckBox*>();
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
