#include "ui/PanelStyle.h"
#include "ui/PanelTheme.h"
#include "ui/UiTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QStyle>
#include <QStyleOptionButton>

// A dark scheme (the palette of a user's dark desktop): the unchecked box must stand out from the window.
TEST(PanelStyle, AnUncheckedBoxIsVisibleInADarkScheme)
{
    const QPalette dark = UiTest::darkPalette();
    const auto strongestEdge = [&](QStyle& style) {
        QCheckBox box(QStringLiteral("Start at login"));
        box.setStyle(&style);
        box.setPalette(dark);
        box.resize(box.sizeHint());
        QStyleOptionButton option;
        option.initFrom(&box);
        const QRect indicator = style.subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
        const QImage image = box.grab().toImage();
        double strongest = 1;
        for (int y = indicator.top(); y <= indicator.bottom(); ++y)
            for (int x = indicator.left(); x <= indicator.right(); ++x)
                strongest = std::max(
                    strongest, PanelTheme::contrast(image.pixelColor(x, y), dark.color(QPalette::Window)));
        return strongest;
    };
    PanelStyle panel(QApplication::style()->name());
    EXPECT_GE(strongestEdge(panel), 3.0) << "WCAG's minimum for the edge of a control";
}
