#include "ui/PanelPlacement.h"

#include <QLocale>
#include <QMargins>

#include <algorithm>
#include <cmath>

namespace PanelPlacement {
namespace {

const Screen* screenContaining(const QList<Screen>& screens, const QPoint& point)
{
    for (const Screen& screen : screens) {
        if (screen.geometry.contains(point))
            return &screen;
    }
    return nullptr;
}

const Screen* screenIntersecting(const QList<Screen>& screens, const QRect& rect)
{
    const Screen* best = nullptr;
    qint64 bestArea = 0;
    for (const Screen& screen : screens) {
        const QRect common = screen.geometry.intersected(rect);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    return best;
}

// Where the panel may lie on a screen: its usable area less the margins.
QRect usableArea(const Screen& screen)
{
    const QRect area = screen.availableGeometry.isValid() ? screen.availableGeometry : screen.geometry;
    return area.marginsRemoved(QMargins(sideMargin, topBottomMargin, sideMargin, topBottomMargin));
}

// Keeps the frame inside the area; when the frame is larger, its top-left stays visible.
QRect clampInto(QRect frame, const QRect& area)
{
    if (frame.right() > area.right())
        frame.moveRight(area.right());
    if (frame.bottom() > area.bottom())
        frame.moveBottom(area.bottom());
    if (frame.left() < area.left())
        frame.moveLeft(area.left());
    if (frame.top() < area.top())
        frame.moveTop(area.top());
    return frame;
}

// Opens the panel away from the nearest screen edge of the anchor: below a top bar, above a bottom bar,
// beside a side bar.
QRect besideAnchor(const QRect& anchor, const Screen& screen, const QSize& size)
{
    const QRect& g = screen.geometry;
    const QPoint c = anchor.center();
    const int toTop = c.y() - g.top();
    const int toBottom = g.bottom() - c.y();
    const int toLeft = c.x() - g.left();
    const int toRight = g.right() - c.x();
    const int nearest = std::min({toTop, toBottom, toLeft, toRight});
    QRect frame(QPoint(0, 0), size);
    if (nearest == toTop) {
        frame.moveTopLeft(QPoint(c.x() - size.width() / 2, anchor.bottom() + 1 + topBottomMargin));
    } else if (nearest == toBottom) {
        frame.moveBottomLeft(QPoint(c.x() - size.width() / 2, anchor.top() - 1 - topBottomMargin));
    } else if (nearest == toLeft) {
        frame.moveTopLeft(QPoint(anchor.right() + 1 + sideMargin, c.y() - size.height() / 2));
    } else {
        frame.moveTopRight(QPoint(anchor.left() - 1 - sideMargin, c.y() - size.height() / 2));
    }
    return clampInto(frame, usableArea(screen));
}

bool nearEdge(const QPoint& point, const QRect& g)
{
    return point.y() - g.top() < edgeDistance || g.bottom() - point.y() < edgeDistance ||
           point.x() - g.left() < edgeDistance || g.right() - point.x() < edgeDistance;
}

} // namespace

Placement place(const Request& request)
{
    const auto sizeOn = [&](const Screen& screen) {
        return QSize(panelWidth, std::max(1, std::min(request.height, usableArea(screen).height())));
    };
    const Screen* primary = nullptr;
    if (!request.screens.isEmpty()) {
        const int index = request.primaryScreen >= 0 && request.primaryScreen < request.screens.size()
                              ? request.primaryScreen
                              : 0;
        primary = &request.screens.at(index);
    }
    if (!request.canPosition) {
        const Screen* screen = request.cursor ? screenContaining(request.screens, *request.cursor) : nullptr;
        if (!screen)
            screen = primary;
        if (screen) {
            QRect frame(QPoint(0, 0), sizeOn(*screen));
            frame.moveCenter(usableArea(*screen).center());
            return {clampInto(frame, usableArea(*screen)), Anchor::centred};
        }
    }
    if (!request.fromHotKey) {
        if (request.trayGeometry && request.trayGeometry->isValid() && !request.trayGeometry->isEmpty()) {
            if (const Screen* screen = screenIntersecting(request.screens, *request.trayGeometry))
                return {besideAnchor(*request.trayGeometry, *screen, sizeOn(*screen)), Anchor::trayIcon};
        }
        if (request.cursor) {
            const Screen* screen = screenContaining(request.screens, *request.cursor);
            if (screen && nearEdge(*request.cursor, screen->geometry))
                return {besideAnchor(QRect(*request.cursor, QSize(1, 1)), *screen, sizeOn(*screen)),
                        Anchor::cursor};
        }
    }
    QRect area = QRect().marginsRemoved(QMargins(sideMargin, topBottomMargin, sideMargin, topBottomMargin));
    QSize size(panelWidth, request.height);
    if (primary) {
        area = usableArea(*primary);
        size = sizeOn(*primary);
    }
    QRect frame(QPoint(0, 0), size);
    frame.moveTopRight(area.topRight());
    return {frame, Anchor::floating};
}

int panelHeight(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--capture-height"));
    if (at < 0 || at + 1 >= arguments.size())
        return defaultPanelHeight;
    bool ok = false;
    const double value = QLocale::c().toDouble(arguments.at(at + 1), &ok);
    if (!ok || !std::isfinite(value) || value < 200 || value > 4000)
        return defaultPanelHeight;
    return int(std::lround(value));
}

} // namespace PanelPlacement
