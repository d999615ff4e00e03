#pragma once

#include "platform/gui/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <cstdint>
#include <memory>

struct xcb_connection_t;

// Ctrl+Alt+G as a passive key grab on every root window of the X11 display, in all combinations with
// Caps Lock and Num Lock so that a lit lock key does not disable it.
class X11HotKey : public GlobalHotKey, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // Absent when the application does not run on the xcb platform or has no connection.
    static std::unique_ptr<X11HotKey> create(QObject* parent = nullptr);
    ~X11HotKey() override;

    [[nodiscard]] bool isActive() const override { return m_grabbed; }
    [[nodiscard]] QString mechanism() const override { return QStringLiteral("X11 key grab"); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The modifier combinations grabbed for the given Num Lock mask (Caps Lock is always Lock).
    [[nodiscard]] static QList<std::uint16_t> grabVariants(std::uint16_t required, std::uint16_t numLockMask);
    // Whether a key event's modifier state means the hot key, whatever the lock keys are.
    [[nodiscard]] static bool matchesState(std::uint16_t state, std::uint16_t required,
                                           std::uint16_t numLockMask);

private:
    X11HotKey(QObject* parent, xcb_connection_t* connection);
    bool grab();
    void ungrab();

    xcb_connection_t* m_connection = nullptr;
    QList<std::uint32_t> m_roots;
    std::uint8_t m_keycode = 0;
    std::uint16_t m_required = 0;
    std::uint16_t m_numLockMask = 0;
    bool m_grabbed = false;
};
