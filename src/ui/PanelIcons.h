#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

// The panel's symbols, drawn with 1.5-px strokes in a colour of the palette so that they work in both themes.
namespace PanelIcons {

enum class Symbol
{
    gauge,
    refresh,
    sliders,
    moon,
    wand,
    check,
    warning,
    link,
    clock,
    chevronLeft,
    eye,
    xmark,
    info,
    arrowUpRight,
    arrowDownRight,
    plusCircle,
    swap
};

// A square pixmap of `size` logical pixels at the given device pixel ratio.
[[nodiscard]] QPixmap pixmap(Symbol symbol, const QColor& color, int size, qreal devicePixelRatio);
// The same at 1× and 2×, for buttons.
[[nodiscard]] QIcon icon(Symbol symbol, const QColor& color, int size = 16);

} // namespace PanelIcons
