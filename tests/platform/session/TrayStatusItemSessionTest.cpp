#include "platform/gui/TrayStatusItem.h"
#include "support/SessionSupport.h"
#include "ui/GaugeIcon.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

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

// Takes the XEmbed tray selection of the first screen, as a tray manager would.
void becomeXEmbedTray()
{
    xcb_connection_t* connection =
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const xcb_window_t window = xcb_generate_id(connection);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const QByteArray name = "_NET_SYSTEM_TRAY_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, name.size(), name.constData()), nullptr);
    xcb_set_selection_owner(connection, window, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    xcb_flush(connection);
}

// Without a watcher or an XEmbed tray the item makes no icon (which would fix Qt's choice of kind) and says
// so after the grace period; the XEmbed tray that appears later gets the icon.
TEST(TrayStatusItemSession, WithoutAnyTraySaysSoAndTakesTheTrayThatAppearsLater)
{
    QElapsedTimer clock;
    clock.start();
    TrayStatusItem item(nullptr, 400);
    qint64 unavailableAt = -1;
    int shown = 0;
    QObject::connect(&item, &StatusItem::unavailable, &item, [&] { unavailableAt = clock.elapsed(); });
    QObject::connect(&item, &StatusItem::shown, &item, [&] { ++shown; });
    EXPECT_FALSE(watcherPresent());
    EXPECT_FALSE(TrayStatusItem::xembedTrayPresent());
    ASSERT_TRUE(TestSupport::waitFor([&] { return unavailableAt >= 0; }, 3000));
    // Not before the grace period (a coarse timer may fire 5 % early).
    EXPECT_GE(unavailableAt, 380);
    EXPECT_FALSE(item.isShown());

    becomeXEmbedTray();
    EXPECT_TRUE(TrayStatusItem::xembedTrayPresent());
    EXPECT_TRUE(TestSupport::waitFor([&] { return item.isShown(); }, 5000));
    EXPECT_EQ(shown, 1);
}

} // namespace
