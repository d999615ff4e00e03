#include "platform/gui/TrayStatusItem.h"
#include "support/SessionSupport.h"
#include "ui/GaugeIcon.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QElapsedTimer>

using namespace SessionSupport;

namespace {

const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// Converts what the item publishes back into an image, to compare with what we drew.
QImage toImage(const Pixmap& pixmap)
{
    QImage image(pixmap.size, QImage::Format_ARGB32);
    const auto* bytes = reinterpret_cast<const uchar*>(pixmap.argbNetworkOrder.constData());
    for (int y = 0; y < pixmap.size.height(); ++y) {
        for (int x = 0; x < pixmap.size.width(); ++x) {
            const uchar* p = bytes + 4 * (y * pixmap.size.width() + x);
            image.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
        }
    }
    return image;
}

TEST(TrayStatusItemSession, RegistersWithTheWatcherAndPublishesIconAndToolTip)
{
    auto services = startFakeServices({"--watcher"});
    ASSERT_TRUE(services) << "fake watcher did not start";

    TrayStatusItem item(nullptr, 5000);
    item.setIcon(GaugeIcon::icon(ForecastStatus::safe));
    item.setToolTip(QStringLiteral("AI  C 42%\nTallyvane — Safe  (Ctrl+Alt+G)"));
    // The watcher is there already, so the item must not wait for the grace period.
    ASSERT_TRUE(TestSupport::waitFor([&] { return registeredItems().size() == 1; }, 3000));
    EXPECT_TRUE(item.isShown());
    const QString registered = registeredItems().first();
    const QString service = registered.section('/', 0, 0);
    const QString path = "/" + registered.section('/', 1);
    // Qt registers under the unique name of a connection of its own, not a well-known name.
    EXPECT_TRUE(service.startsWith(':')) << registered.toStdString();

    auto tip = readToolTip(property(service, path, itemInterface, "ToolTip"));
    ASSERT_TRUE(tip);
    EXPECT_EQ(tip->title + tip->text, QStringLiteral("AI  C 42%\nTallyvane — Safe  (Ctrl+Alt+G)"));
    for (const QSize& size : tip->iconSizes)
        EXPECT_LE(size.width(), 64);

    // The icon follows: the largest pixmap is exactly what GaugeIcon draws for the status.
    const ForecastStatus sequence[] = {ForecastStatus::watch, ForecastStatus::limited,
                                       ForecastStatus::noData};
    for (const ForecastStatus status : sequence) {
        item.setIcon(GaugeIcon::icon(status));
        item.setToolTip("Tallyvane — " + label(status) + "  (Ctrl+Alt+G)");
        const QVariant value = property(service, path, itemInterface, "IconPixmap");
        ASSERT_TRUE(value.canConvert<QDBusArgument>());
        const QList<Pixmap> pixmaps = readPixmaps(value.value<QDBusArgument>());
        ASSERT_FALSE(pixmaps.isEmpty());
        QList<int> widths;
        for (const Pixmap& pixmap : pixmaps)
            widths.append(pixmap.size.width());
        EXPECT_EQ(widths, GaugeIcon::sizes);
        EXPECT_EQ(toImage(pixmaps.last()),
                  GaugeIcon::render(status, 64).convertToFormat(QImage::Format_ARGB32))
            << rawValue(status).toStdString();
        tip = readToolTip(property(service, path, itemInterface, "ToolTip"));
        ASSERT_TRUE(tip);
        EXPECT_EQ(tip->title + tip->text, "Tallyvane — " + label(status) + "  (Ctrl+Alt+G)");
    }
}

TEST(TrayStatusItemSession, ActivateThroughDBusReportsAClick)
{
    auto services = startFakeServices({"--watcher"});
    ASSERT_TRUE(services);
    TrayStatusItem item;
    int clicks = 0;
    QObject::connect(&item, &StatusItem::activated, &item, [&](QPoint) { ++clicks; });
    item.setIcon(GaugeIcon::icon(ForecastStatus::safe));
    ASSERT_TRUE(TestSupport::waitFor([&] { return registeredItems().size() == 1; }, 3000));
    const QString registered = registeredItems().first();

    for (int expected = 1; expected <= 2; ++expected) {
        QDBusMessage activate = QDBusMessage::createMethodCall(
            registered.section('/', 0, 0), "/" + registered.section('/', 1), itemInterface, "Activate");
        activate << 10 << 10;
        call(activate);
        EXPECT_TRUE(TestSupport::waitFor([&] { return clicks == expected; }, 2000)) << clicks;
    }
}

TEST(TrayStatusItemSession, WaitsForAWatcherThatAppearsLate)
{
    TrayStatusItem item(nullptr, 10000);
    item.setIcon(GaugeIcon::icon(ForecastStatus::safe));
    TestSupport::waitFor([] { return false; }, 300);
    EXPECT_FALSE(item.isShown());
    QElapsedTimer clock;
    clock.start();
    auto services = startFakeServices({"--watcher"});
    ASSERT_TRUE(services);
    ASSERT_TRUE(TestSupport::waitFor([&] { return registeredItems().size() == 1; }, 5000));
    EXPECT_TRUE(item.isShown());
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST(TrayStatusItemSession, FallsBackAfterTheGracePeriodWithoutAWatcher)
{
    TrayStatusItem item(nullptr, 400);
    int shown = 0;
    QObject::connect(&item, &StatusItem::shown, &item, [&] { ++shown; });
    TestSupport::waitFor([] { return false; }, 200);
    EXPECT_FALSE(item.isShown());
    EXPECT_TRUE(TestSupport::waitFor([&] { return item.isShown(); }, 2000));
    EXPECT_EQ(shown, 1);
    // No tray manager on a bare display: the icon has no place on screen to report.
    EXPECT_FALSE(item.geometry().has_value());
}

} // namespace
