// The whole chain in one process: application state -> controller -> Qt's StatusNotifierItem on the bus.
#include "platform/gui/TrayStatusItem.h"
#include "support/SessionSupport.h"
#include "ui/GaugeIcon.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/StatusBarController.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

using namespace SessionSupport;
using UiTest::forecast;
using UiTest::forecasts;

namespace {

TEST(TrayPropertiesSession, ToolTipAndIconOnTheBusFollowTheState)
{
    auto services = startFakeServices({"--watcher"});
    ASSERT_TRUE(services);
    AppSettings settings;
    settings.menuBarDisplayMode = MenuBarDisplayMode::minimal;
    settings.showRemaining = false;
    auto state = UiTest::makeState(settings);
    TrayStatusItem item;
    // No hot key here, so the tooltip names none.
    StatusBarController controller(
        *state, item, [&] { return new PanelWindow(new PanelView(*state, {})); }, 720);
    ASSERT_TRUE(TestSupport::waitFor([] { return registeredItems().size() == 1; }, 5000));
    const QString registered = registeredItems().first();
    const QString service = registered.section('/', 0, 0);
    const QString path = "/" + registered.section('/', 1);
    const auto toolTip = [&] {
        const auto tip = readToolTip(property(service, path, "org.kde.StatusNotifierItem", "ToolTip"));
        return tip ? tip->title + tip->text : QString();
    };
    const auto largestIcon = [&] {
        const QVariant value = property(service, path, "org.kde.StatusNotifierItem", "IconPixmap");
        const QList<Pixmap> pixmaps = readPixmaps(value.value<QDBusArgument>());
        return pixmaps.isEmpty() ? QByteArray() : pixmaps.last().argbNetworkOrder;
    };
    EXPECT_EQ(toolTip(), "AI —\nTallyvane — No data");
    const QByteArray noDataIcon = largestIcon();
    EXPECT_FALSE(noDataIcon.isEmpty());

    struct Step
    {
        QMap<QString, ForecastResult> results;
        QString toolTip;
    };
    const Step steps[] = {
        {forecasts({forecast(Provider::codex, WindowKind::fiveHour, 30, ForecastStatus::safe)}),
         "AI 30\nTallyvane — Safe"},
        {forecasts({forecast(Provider::codex, WindowKind::fiveHour, 96, ForecastStatus::limitLikely),
                    forecast(Provider::claude, WindowKind::fiveHour, 12, ForecastStatus::safe)}),
         "AI 96/12\nTallyvane — Limit likely"},
    };
    QByteArray previousIcon = noDataIcon;
    for (const Step& step : steps) {
        UiTest::publish(*state, step.results);
        EXPECT_TRUE(TestSupport::waitFor([&] { return toolTip() == step.toolTip; }, 5000))
            << toolTip().toStdString();
        const QByteArray icon = largestIcon();
        EXPECT_NE(icon, previousIcon) << step.toolTip.toStdString();
        previousIcon = icon;
    }
}

} // namespace
