#include "platform/gui/X11HotKey.h"

#include "core/io/AppLogger.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

constexpr xcb_keysym_t keysymLowerG = 0x0067;
constexpr xcb_keysym_t keysymUpperG = 0x0047;
constexpr xcb_keysym_t keysymNumLock = 0xff7f;
constexpr xcb_keysym_t keysymAltL = 0xffe9;
constexpr xcb_keysym_t keysymAltR = 0xffea;
constexpr std::uint8_t badAccess = 10;
// Modifiers that make a different combination; lock keys and the rest are ignored when matching.
constexpr std::uint16_t significantModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

struct KeyboardMap
{
    xcb_keycode_t minKeycode = 0;
    int keysymsPerKeycode = 0;
    QList<xcb_keysym_t> keysyms;

    QList<xcb_keycode_t> keycodesFor(xcb_keysym_t wanted) const
    {
        QList<xcb_keycode_t> found;
        if (keysymsPerKeycode <= 0)
            return found;
        for (qsizetype i = 0; i < keysyms.size(); ++i) {
            if (keysyms.at(i) == wanted) {
                const auto code = xcb_keycode_t(minKeycode + i / keysymsPerKeycode);
                if (!found.contains(code))
                    found.append(code);
            }
        }
        return found;
    }
};

KeyboardMap readKeyboardMap(xcb_connection_t* connection)
{
    KeyboardMap map;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    map.minKeycode = setup->min_keycode;
    const auto count = std::uint8_t(setup->max_keycode - setup->min_keycode + 1);
    auto cookie = xcb_get_keyboard_mapping(connection, setup->min_keycode, count);
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(connection, cookie, nullptr);
    if (!reply)
        return map;
    map.keysymsPerKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply);
    map.keysyms.reserve(length);
    for (int i = 0; i < length; ++i)
        map.keysyms.append(syms[i]);
    std::free(reply);
    return map;
}

// The modifier mask (Mod1..Mod5) whose keys include one of the wanted keycodes, or 0.
std::uint16_t modifierMaskFor(xcb_connection_t* connection, const QList<xcb_keycode_t>& keycodes)
{
    if (keycodes.isEmpty())
        return 0;
    auto cookie = xcb_get_modifier_mapping(connection);
    xcb_get_modifier_mapping_reply_t* reply = xcb_get_modifier_mapping_reply(connection, cookie, nullptr);
    if (!reply)
        return 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    std::uint16_t mask = 0;
    for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            if (keycodes.contains(codes[modifier * perModifier + k])) {
                mask = std::uint16_t(1u << modifier);
                break;
            }
        }
    }
    std::free(reply);
    return mask;
}

} // namespace

std::unique_ptr<X11HotKey> X11HotKey::create(QObject* parent)
{
    if (QGuiApplication::platformName() != QLatin1StringView("xcb"))
        return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    std::unique_ptr<X11HotKey> key(new X11HotKey(parent, x11->connection()));
    if (!key->grab())
        return nullptr;
    return key;
}

X11HotKey::X11HotKey(QObject* parent, xcb_connection_t* connection)
    : GlobalHotKey(parent), m_connection(connection)
{}

X11HotKey::~X11HotKey()
{
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    ungrab();
}

QList<std::uint16_t> X11HotKey::grabVariants(std::uint16_t required, std::uint16_t numLockMask)
{
    QList<std::uint16_t> variants{required, std::uint16_t(required | XCB_MOD_MASK_LOCK)};
    if (numLockMask != 0 && numLockMask != XCB_MOD_MASK_LOCK) {
        variants.append(std::uint16_t(required | numLockMask));
        variants.append(std::uint16_t(required | numLockMask | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

bool X11HotKey::matchesState(std::uint16_t state, std::uint16_t required, std::uint16_t numLockMask)
{
    const auto ignored = std::uint16_t(XCB_MOD_MASK_LOCK | numLockMask);
    const auto relevant = std::uint16_t((significantModifiers | required) & ~ignored);
    return (state & relevant) == required;
}

bool X11HotKey::grab()
{
    const KeyboardMap map = readKeyboardMap(m_connection);
    QList<xcb_keycode_t> codes = map.keycodesFor(keysymLowerG);
    if (codes.isEmpty())
        codes = map.keycodesFor(keysymUpperG);
    if (codes.isEmpty()) {
        AppLogger::shared().warn(QStringLiteral("Global hot key: the keyboard has no G key"));
        return false;
    }
    m_keycode = codes.first();
    m_numLockMask = modifierMaskFor(m_connection, map.keycodesFor(keysymNumLock));
    if (m_numLockMask == 0)
        m_numLockMask = XCB_MOD_MASK_2;
    std::uint16_t altMask =
        modifierMaskFor(m_connection, map.keycodesFor(keysymAltL) + map.keycodesFor(keysymAltR));
    if (altMask == 0)
        altMask = XCB_MOD_MASK_1;
    m_required = std::uint16_t(XCB_MOD_MASK_CONTROL | altMask);

    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem; xcb_screen_next(&it))
        m_roots.append(it.data->root);

    int refused = 0;
    int taken = 0;
    for (std::uint32_t root : std::as_const(m_roots)) {
        for (std::uint16_t modifiers : grabVariants(m_required, m_numLockMask)) {
            auto cookie = xcb_grab_key_checked(m_connection, 0, root, modifiers, m_keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(m_connection, cookie)) {
                ++refused;
                if (error->error_code == badAccess)
                    ++taken;
                std::free(error);
            }
        }
    }
    const int total = int(m_roots.size()) * int(grabVariants(m_required, m_numLockMask).size());
    if (taken > 0) {
        AppLogger::shared().warn(
            QStringLiteral("Global hot key %1 is already taken by another program (%2 of %3 "
                           "combinations); bind `tallyvane --toggle` to a shortcut instead")
                .arg(shortcutText())
                .arg(taken)
                .arg(total));
    } else if (refused > 0) {
        AppLogger::shared().warn(QStringLiteral("Global hot key %1: the X server refused %2 of %3 grabs")
                                     .arg(shortcutText())
                                     .arg(refused)
                                     .arg(total));
    }
    // Some combinations may still work (for example without Num Lock); the key stays useful then.
    m_grabbed = refused < total;
    if (m_grabbed)
        qGuiApp->installNativeEventFilter(this);
    return m_grabbed;
}

void X11HotKey::ungrab()
{
    if (!m_grabbed || !m_connection)
        return;
    for (std::uint32_t root : std::as_const(m_roots)) {
        for (std::uint16_t modifiers : grabVariants(m_required, m_numLockMask))
            xcb_ungrab_key(m_connection, m_keycode, root, modifiers);
    }
    xcb_flush(m_connection);
    m_grabbed = false;
}

bool X11HotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result)
{
    Q_UNUSED(result);
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_KEY_PRESS)
        return false;
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    if (press->detail != m_keycode || !m_roots.contains(press->event) ||
        !matchesState(press->state, m_required, m_numLockMask))
        return false;
    Q_EMIT activated();
    return true;
}
