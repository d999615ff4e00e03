#pragma once

#include <QProxyStyle>

// The desktop's style with one repair: in dark schemes an unchecked check box is drawn in nearly the window's
// own colour and without an edge, so it gets an outline in the muted text colour.
class PanelStyle : public QProxyStyle
{
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};
