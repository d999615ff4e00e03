#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

namespace {

// The menu entry's icon is drawn by hand in SVG; a broken file would leave the menu entry blank.
TEST(ApplicationIcon, SvgRendersAGaugeOnARoundedTile)
{
    QSvgRenderer renderer(QStringLiteral(TALLYVANE_SOURCE_DIR "/resources/icons/tallyvane.svg"));
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize(), QSize(128, 128));
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    image.save(QStringLiteral(TALLYVANE_BINARY_DIR "/application-icon.png"));
    // Transparent outside the rounded corners, opaque tile inside, light needle hub in the middle.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(20, 110)), 255);
    EXPECT_GT(qGray(image.pixel(64, 64)), 200);
    EXPECT_LT(qGray(image.pixel(20, 110)), 80);
}

} // namespace
