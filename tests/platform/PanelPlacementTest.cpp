#include "platform/PanelPlacement.h"

#include <gtest/gtest.h>

using PanelPlacement::Anchor;
using PanelPlacement::Request;
using PanelPlacement::Screen;

namespace {

// A 1280x800 laptop screen with a 32 px top bar.
const Screen laptop{QRect(0, 0, 1280, 800), QRect(0, 32, 1280, 768)};
// A 1920x1080 monitor to the left of it (negative coordinates), with a bottom bar.
const Screen leftMonitor{QRect(-1920, 0, 1920, 1080), QRect(-1920, 0, 1920, 1040)};

struct PlacementCase
{
    const char* name;
    Request request;
    Anchor anchor;
    QRect frame;
};

class PlacementTable : public ::testing::TestWithParam<PlacementCase>
{};

TEST_P(PlacementTable, PlacesThePanel)
{
    const PlacementCase& row = GetParam();
    const auto placement = PanelPlacement::place(row.request);
    EXPECT_EQ(placement.anchor, row.anchor) << row.name;
    EXPECT_EQ(placement.frame, row.frame) << row.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PlacementTable,
    ::testing::Values(
        // 1280 - 12 - 460 = 808; the top bar's 32 px plus 8.
        PlacementCase{"floating without any anchor",
                      {std::nullopt, std::nullopt, false, {laptop}, 0, 720},
                      Anchor::floating,
                      QRect(808, 40, 460, 720)},
        PlacementCase{
            "plain screen without bars",
            {std::nullopt, std::nullopt, false, {{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)}}, 0, 720},
            Anchor::floating,
            QRect(808, 8, 460, 720)},
        PlacementCase{"hot key ignores a valid tray icon",
                      {QRect(1200, 4, 24, 24), QPoint(1210, 10), true, {laptop}, 0, 720},
                      Anchor::floating,
                      QRect(808, 40, 460, 720)},
        // The same 12/8 px from the corner as the hot key's panel, not flush against the edges.
        PlacementCase{"tray icon in a top bar opens below it, clamped to the right",
                      {QRect(1200, 4, 24, 24), std::nullopt, false, {laptop}, 0, 720},
                      Anchor::trayIcon,
                      QRect(808, 40, 460, 720)},
        PlacementCase{"cursor in the top-right corner keeps the same margins",
                      {std::nullopt, QPoint(1279, 0), false, {laptop}, 0, 720},
                      Anchor::cursor,
                      QRect(808, 40, 460, 720)},
        PlacementCase{"tray icon in the middle of a top bar",
                      {QRect(600, 4, 24, 24), std::nullopt, false, {laptop}, 0, 500},
                      Anchor::trayIcon,
                      QRect(381, 40, 460, 500)},
        PlacementCase{"a tray window inside the usable area: 8 px below its icon",
                      {QRect(600, 100, 24, 24),
                       std::nullopt,
                       false,
                       {{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)}},
                       0,
                       500},
                      Anchor::trayIcon,
                      QRect(381, 132, 460, 500)},
        PlacementCase{"empty tray geometry falls back to the cursor near the top edge",
                      {QRect(), QPoint(900, 10), false, {laptop}, 0, 720},
                      Anchor::cursor,
                      QRect(670, 40, 460, 720)},
        PlacementCase{"tray geometry off every screen falls back to the floating panel",
                      {QRect(5000, 5000, 24, 24), std::nullopt, false, {laptop}, 0, 720},
                      Anchor::floating,
                      QRect(808, 40, 460, 720)},
        PlacementCase{"cursor in the middle of the screen is no anchor",
                      {std::nullopt, QPoint(640, 400), false, {laptop}, 0, 720},
                      Anchor::floating,
                      QRect(808, 40, 460, 720)},
        PlacementCase{"cursor at a bottom bar of a monitor with negative coordinates opens above it",
                      {std::nullopt, QPoint(-100, 1070), false, {laptop, leftMonitor}, 0, 720},
                      Anchor::cursor,
                      QRect(-472, 312, 460, 720)},
        PlacementCase{"tray icon on the left monitor counts as on screen",
                      {QRect(-1900, 1050, 24, 24), std::nullopt, false, {laptop, leftMonitor}, 0, 600},
                      Anchor::trayIcon,
                      QRect(-1908, 432, 460, 600)},
        PlacementCase{"cursor at the right edge opens beside it",
                      {std::nullopt, QPoint(1275, 400), false, {laptop}, 0, 600},
                      Anchor::cursor,
                      QRect(803, 100, 460, 600)},
        PlacementCase{"floating follows the primary screen, not the first",
                      {std::nullopt, std::nullopt, false, {leftMonitor, laptop}, 1, 720},
                      Anchor::floating,
                      QRect(808, 40, 460, 720)},
        PlacementCase{"out-of-range primary index uses the first screen",
                      {std::nullopt, std::nullopt, true, {laptop}, 7, 720},
                      Anchor::floating,
                      QRect(808, 40, 460, 720)}),
    [](const ::testing::TestParamInfo<PlacementCase>& param) { return "row" + std::to_string(param.index); });

struct HeightCase
{
    QStringList arguments;
    int height;
};

TEST(PanelPlacement, CaptureHeightAcceptsOnlyFiniteNumbersFrom200To4000)
{
    const HeightCase rows[] = {
        {{"tallyvane"}, 720},
        {{"tallyvane", "--capture-height", "900"}, 900},
        {{"tallyvane", "--capture-height", "512.6"}, 513},
        {{"tallyvane", "--capture-height", "200"}, 200},
        {{"tallyvane", "--capture-height", "4000"}, 4000},
        {{"tallyvane", "--capture-height", "199.9"}, 720},
        {{"tallyvane", "--capture-height", "4000.5"}, 720},
        {{"tallyvane", "--capture-height", "abc"}, 720},
        {{"tallyvane", "--capture-height", ""}, 720},
        {{"tallyvane", "--capture-height", "nan"}, 720},
        {{"tallyvane", "--capture-height", "inf"}, 720},
        {{"tallyvane", "--capture-height", "-800"}, 720},
        {{"tallyvane", "--capture-height", "1e3"}, 1000},
        // The C locale: a decimal comma is not a number.
        {{"tallyvane", "--capture-height", "900,5"}, 720},
        {{"tallyvane", "--capture-height"}, 720},
        {{"tallyvane", "--demo", "--capture-height", "640", "--capture"}, 640},
    };
    for (const HeightCase& row : rows)
        EXPECT_EQ(PanelPlacement::panelHeight(row.arguments), row.height)
            << row.arguments.join(' ').toStdString();
}

} // namespace
