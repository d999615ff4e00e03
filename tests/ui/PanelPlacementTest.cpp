#include "ui/PanelPlacement.h"

#include <gtest/gtest.h>

using PanelPlacement::Anchor;
using PanelPlacement::Request;
using PanelPlacement::Screen;

namespace {

// A 1280x800 laptop screen with a 32 px top bar.
const Screen laptop{QRect(0, 0, 1280, 800), QRect(0, 32, 1280, 768)};
// A 1920x1080 monitor to the left of it (negative coordinates), with a bottom bar.
const Screen leftMonitor{QRect(-1920, 0, 1920, 1080), QRect(-1920, 0, 1920, 1040)};
// A 1024x600 netbook with a 24 px top bar, and the same at scale 2.
const Screen netbook{QRect(0, 0, 1024, 600), QRect(0, 24, 1024, 576)};
const Screen netbookAt2{QRect(0, 0, 512, 300), QRect(0, 12, 512, 288)};

TEST(PanelPlacement, PlacesThePanel)
{
    struct Row
    {
        const char* name;
        Request request;
        Anchor anchor;
        QRect frame;
    };
    const Screen plain{QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800)};
    const auto none = std::nullopt;
    const Row rows[] = {
        // 1280 - 12 - 460 = 808; the top bar's 32 px plus 8.
        {"floating without any anchor", Request{none, none, false, QList{laptop}, 0, 720}, Anchor::floating,
         QRect(808, 40, 460, 720)},
        {"plain screen without bars", Request{none, none, false, QList{plain}, 0, 720}, Anchor::floating,
         QRect(808, 8, 460, 720)},
        {"hot key ignores a valid tray icon",
         Request{QRect(1200, 4, 24, 24), QPoint(1210, 10), true, QList{laptop}, 0, 720}, Anchor::floating,
         QRect(808, 40, 460, 720)},
        // The same 12/8 px from the corner as the hot key's panel, not flush against the edges.
        {"tray icon in a top bar opens below it, clamped to the right",
         Request{QRect(1200, 4, 24, 24), none, false, QList{laptop}, 0, 720}, Anchor::trayIcon,
         QRect(808, 40, 460, 720)},
        {"cursor in the top-right corner keeps the same margins",
         Request{none, QPoint(1279, 0), false, QList{laptop}, 0, 720}, Anchor::cursor,
         QRect(808, 40, 460, 720)},
        {"tray icon in the middle of a top bar",
         Request{QRect(600, 4, 24, 24), none, false, QList{laptop}, 0, 500}, Anchor::trayIcon,
         QRect(381, 40, 460, 500)},
        {"a tray window inside the usable area: 8 px below its icon",
         Request{QRect(600, 100, 24, 24), none, false, QList{plain}, 0, 500}, Anchor::trayIcon,
         QRect(381, 132, 460, 500)},
        {"empty tray geometry falls back to the cursor near the top edge",
         Request{QRect(), QPoint(900, 10), false, QList{laptop}, 0, 720}, Anchor::cursor,
         QRect(670, 40, 460, 720)},
        {"tray geometry off every screen falls back to the floating panel",
         Request{QRect(5000, 5000, 24, 24), none, false, QList{laptop}, 0, 720}, Anchor::floating,
         QRect(808, 40, 460, 720)},
        {"cursor in the middle of the screen is no anchor",
         Request{none, QPoint(640, 400), false, QList{laptop}, 0, 720}, Anchor::floating,
         QRect(808, 40, 460, 720)},
        {"cursor at a bottom bar of a monitor with negative coordinates opens above it",
         Request{none, QPoint(-100, 1070), false, QList{laptop, leftMonitor}, 0, 720}, Anchor::cursor,
         QRect(-472, 312, 460, 720)},
        {"tray icon on the left monitor counts as on screen",
         Request{QRect(-1900, 1050, 24, 24), none, false, QList{laptop, leftMonitor}, 0, 600},
         Anchor::trayIcon, QRect(-1908, 432, 460, 600)},
        {"cursor at the right edge opens beside it",
         Request{none, QPoint(1275, 400), false, QList{laptop}, 0, 600}, Anchor::cursor,
         QRect(803, 100, 460, 600)},
        {"floating follows the primary screen, not the first",
         Request{none, none, false, QList{leftMonitor, laptop}, 1, 720}, Anchor::floating,
         QRect(808, 40, 460, 720)},
        {"out-of-range primary index uses the first screen", Request{none, none, true, QList{laptop}, 7, 720},
         Anchor::floating, QRect(808, 40, 460, 720)},
        // Capped to the usable area less 8 px above and below: 600 - 24 (bar) - 16.
        {"a short screen caps the height", Request{none, none, true, QList{netbook}, 0, 720},
         Anchor::floating, QRect(552, 32, 460, 560)},
        {"the same beside a tray icon", Request{QRect(1000, 0, 24, 24), none, false, QList{netbook}, 0, 720},
         Anchor::trayIcon, QRect(552, 32, 460, 560)},
        // The same screen at scale 2 as Qt sees it: 512 x 300 logical pixels, a 12 px bar.
        {"scale 2 caps to the logical area", Request{none, none, true, QList{netbookAt2}, 0, 720},
         Anchor::floating, QRect(40, 20, 460, 272)},
        {"unplaceable windows: centred on the pointer's screen",
         Request{none, QPoint(-500, 500), false, QList{laptop, leftMonitor}, 0, 720, false}, Anchor::centred,
         QRect(-1189, 160, 460, 720)},
        {"unplaceable without a pointer: centred on the primary, capped",
         Request{QRect(1000, 0, 24, 24), none, false, QList{leftMonitor, netbook}, 1, 720, false},
         Anchor::centred, QRect(282, 32, 460, 560)},
    };
    for (const Row& row : rows) {
        const auto placement = PanelPlacement::place(row.request);
        EXPECT_EQ(placement.anchor, row.anchor) << row.name;
        EXPECT_EQ(placement.frame, row.frame) << row.name;
    }
}

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
        {{"tallyvane", "--capture-height", "nan"}, 720},
        {{"tallyvane", "--capture-height", "inf"}, 720},
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
