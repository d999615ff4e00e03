#include "platform/gui/X11WindowState.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>

namespace X11WindowState {
namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name, int length)
{
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, length, name), nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

} // namespace

void skipTaskbarAndPager(QWidget* window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || !window || window->isVisible())
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE", 13);
    const std::array<xcb_atom_t, 2> skip{atom(connection, "_NET_WM_STATE_SKIP_TASKBAR", 26),
                                         atom(connection, "_NET_WM_STATE_SKIP_PAGER", 24)};
    if (state == XCB_ATOM_NONE || skip[0] == XCB_ATOM_NONE || skip[1] == XCB_ATOM_NONE)
        return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32, skip.size(),
                        skip.data());
    xcb_flush(connection);
}

} // namespace X11WindowState
