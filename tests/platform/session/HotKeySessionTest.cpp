#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "platform/gui/PortalHotKey.h"
#include "platform/gui/X11HotKey.h"
#include "support/SessionSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace SessionSupport;

namespace {

bool xdotool(const QStringList& arguments)
{
    return TestSupport::runProgram(QStringLiteral("xdotool"), arguments, {}, 5000).exitCode == 0;
}

struct Counter
{
    explicit Counter(GlobalHotKey& key)
    {
        QObject::connect(&key, &GlobalHotKey::activated, &key, [this] { ++presses; });
    }
    int presses = 0;
};

TEST(X11HotKeySession, CtrlAltGArrivesWhateverTheLockKeys)
{
    auto key = X11HotKey::create();
    ASSERT_TRUE(key) << "the grab failed on a fresh display";
    EXPECT_TRUE(key->isActive());
    Counter counter(*key);

    // Which near misses match is the unit test's table; here only that the grab covers the lock keys.
    int expected = 0;
    for (const char* lock : {"", "Num_Lock", "Caps_Lock"}) {
        if (*lock != 0) {
            ASSERT_TRUE(xdotool({"key", lock}));
        }
        ASSERT_TRUE(xdotool({"key", "ctrl+alt+g"}));
        ++expected;
        EXPECT_TRUE(TestSupport::waitFor([&] { return counter.presses == expected; }, 2000)) << lock;
    }
}

TEST(X11HotKeySession, AGrabHeldByAnotherProgramIsLoggedNotFatal)
{
    // Another client takes Ctrl+Alt+G in every lock combination first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    const xcb_setup_t* setup = xcb_get_setup(other);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
    auto mapping = xcb_get_keyboard_mapping_reply(
        other,
        xcb_get_keyboard_mapping(other, setup->min_keycode, setup->max_keycode - setup->min_keycode + 1),
        nullptr);
    ASSERT_NE(mapping, nullptr);
    xcb_keycode_t g = 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
    for (int i = 0; i < xcb_get_keyboard_mapping_keysyms_length(mapping) && g == 0; ++i) {
        if (syms[i] == 0x67)
            g = xcb_keycode_t(setup->min_keycode + i / mapping->keysyms_per_keycode);
    }
    std::free(mapping);
    ASSERT_NE(g, 0);
    for (const int lock :
         {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), int(XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK)}) {
        xcb_grab_key(other, 0, root, std::uint16_t(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | lock), g,
                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));

    auto key = X11HotKey::create();
    EXPECT_EQ(key, nullptr);
    AppLogger::shared().flush();
    EXPECT_TRUE(TestSupport::readFile(LocalFileStore::logPath())
                    .contains("WARN Global hot key Ctrl+Alt+G is already taken by another program"));

    // Once the other program lets go (the server may take a moment to notice), the key is ours again.
    xcb_disconnect(other);
    EXPECT_TRUE(TestSupport::waitFor(
        [&] {
            key = X11HotKey::create();
            return key && key->isActive();
        },
        3000));
}

TEST(PortalHotKeySession, BindsThroughThePortalAndReportsActivations)
{
    auto services = startFakeServices({"--portal"});
    ASSERT_TRUE(services);
    PortalHotKey key;
    Counter counter(key);
    int bound = 0;
    QObject::connect(&key, &PortalHotKey::bound, &key, [&] { ++bound; });
    key.start();
    ASSERT_TRUE(TestSupport::waitFor([&] { return bound == 1; }, 5000));
    EXPECT_TRUE(key.isActive());
    EXPECT_TRUE(TestSupport::waitFor([&] { return services->canReadLine(); }, 2000));
    EXPECT_EQ(services->readLine().trimmed(), "bound toggle-panel trigger CTRL+ALT+g");

    for (int expected = 1; expected <= 2; ++expected) {
        call(QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                                            "/org/freedesktop/portal/desktop",
                                            "org.freedesktop.portal.GlobalShortcuts", "PressShortcut"));
        EXPECT_TRUE(TestSupport::waitFor([&] { return counter.presses == expected; }, 2000));
    }
}

TEST(PortalHotKeySession, AnAbsentPortalIsReportedUnavailable)
{
    PortalHotKey key;
    QString reason;
    QObject::connect(&key, &PortalHotKey::unavailable, &key, [&](const QString& why) { reason = why; });
    key.start();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !reason.isEmpty(); }, 5000));
    EXPECT_FALSE(key.isActive());
    EXPECT_TRUE(reason.startsWith("CreateSession: ")) << reason.toStdString();
}

} // namespace
