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

    // Both follow: the largest pixmap is exactly what GaugeIcon draws for the status.
    item.setIcon(GaugeIcon::icon(ForecastStatus::limited));
    item.setToolTip(QStringLiteral("Tallyvane — Limited  (Ctrl+Alt+G)"));
    const QVariant value = property(service, path, itemInterface, "IconPixmap");
    ASSERT_TRUE(value.canConvert<QDBusArgument>());
    const QList<Pixmap> pixmaps = readPixmaps(value.value<QDBusArgument>());
    ASSERT_FALSE(pixmaps.isEmpty());
    QList<int> widths;
    for (const Pixmap& pixmap : pixmaps)
        widths.append(pixmap.size.width());
    EXPECT_EQ(widths, GaugeIcon::sizes);
    EXPECT_EQ(toImage(pixmaps.last()),
              GaugeIcon::render(ForecastStatus::limited, 64).convertToFormat(QImage::Format_ARGB32));
    tip = readToolTip(property(service, path, itemInterface, "ToolTip"));
    ASSERT_TRUE(tip);
    EXPECT_EQ(tip->title + tip->text, QStringLiteral("Tallyvane — Limited  (Ctrl+Alt+G)"));
}

// The item asks the bus whether a watcher is there; our own question, asked after it on the same connection,
// is answered after it, so once we have our answer the item has had its own.
bool watcherPresent()
{
    QDBusMessage ask = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner");
    ask << TrayStatusItem::watcherService();
    return call(ask).arguments().value(0).toBool();
}

TEST(TrayStatusItemSession, WaitsForAWatcherThatAppearsLate)
{
    TrayStatusItem item(nullptr, 10000);
    item.setIcon(GaugeIcon::icon(ForecastStatus::safe));
    EXPECT_FALSE(watcherPresent());
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
    QElapsedTimer clock;
    clock.start();
    TrayStatusItem item(nullptr, 400);
    qint64 shownAt = -1;
    int shown = 0;
    QObject::connect(&item, &StatusItem::shown, &item, [&] {
        ++shown;
        shownAt = clock.elapsed();
    });
    EXPECT_FALSE(watcherPresent());
    EXPECT_TRUE(TestSupport::waitFor([&] { return item.isShown(); }, 3000));
    EXPECT_EQ(shown, 1);
    // Not before the grace period (a coarse timer may fire 5 % early).
    EXPECT_GE(shownAt, 380);
    // No tray manager on a bare display: the icon has no place on screen to report.
    EXPECT_FALSE(item.geometry().has_value());
}

} // namespace
