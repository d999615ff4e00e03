#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QStringList>

#include <optional>

// Where the panel opens. Pure: every input comes in as a value so the rules can be tested without a display.
namespace PanelPlacement {

inline constexpr int panelWidth = 460;
inline constexpr int defaultPanelHeight = 720;
// However the panel opens (tray icon, cursor, hot key), it keeps these distances from the usable screen edges
// and from the icon or cursor it opens beside: 12 px at the sides, 8 px above and below.
inline constexpr int sideMargin = 12;
inline constexpr int topBottomMargin = 8;
// How close to a screen edge the activation cursor must be to count as pointing at a panel or bar there.
inline constexpr int edgeDistance = 64;

struct Screen
{
    QRect geometry;
    QRect availableGeometry;
};

struct Request
{
    // The tray icon's geometry as the tray reports it; empty or invalid with StatusNotifierItem hosts.
    std::optional<QRect> trayGeometry;
    // The cursor position captured when the tray icon was activated.
    std::optional<QPoint> cursor;
    // The hot key always opens the floating panel: the cursor may be anywhere.
    bool fromHotKey = false;
    QList<Screen> screens;
    // Index into screens of the primary screen; the first one when out of range.
    int primaryScreen = 0;
    int height = defaultPanelHeight;
    // False where the window system places windows itself (Wayland): the panel then asks for the middle of
    // the screen with the pointer, which a compositor that honours anything honours best.
    bool canPosition = true;
};

enum class Anchor
{
    trayIcon,
    cursor,
    floating,
    centred
};

struct Placement
{
    QRect frame;
    Anchor anchor = Anchor::floating;
};

// The frame is never taller than the usable area of the screen it opens on, less the margins: on a small or
// scaled screen the panel's content scrolls instead of running off the screen.
[[nodiscard]] Placement place(const Request& request);

// The panel height from the process arguments: the value after "--capture-height" when it is a finite
// number from 200 to 4000 (parsed in the C locale), else 720.
[[nodiscard]] int panelHeight(const QStringList& arguments);

} // namespace PanelPlacement
