#include "platform/gui/X11HotKey.h"

#include <gtest/gtest.h>

#include <xcb/xcb.h>

namespace {

constexpr std::uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

// That the grab covers every lock combination is the session test's business.
TEST(X11HotKey, MatchesWhateverTheLockKeysAre)
{
    struct Row
    {
        std::uint16_t state;
        bool matches;
    };
    const Row rows[] = {
        {ctrlAlt, true},
        {ctrlAlt | XCB_MOD_MASK_LOCK, true},
        {ctrlAlt | XCB_MOD_MASK_2, true},
        {ctrlAlt | XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK, true},
        // Button masks in the state do not matter.
        {ctrlAlt | XCB_KEY_BUT_MASK_BUTTON_1, true},
        {XCB_MOD_MASK_CONTROL, false},
        {XCB_MOD_MASK_1, false},
        {ctrlAlt | XCB_MOD_MASK_SHIFT, false},
        {ctrlAlt | XCB_MOD_MASK_4, false},
        {0, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(X11HotKey::matchesState(row.state, ctrlAlt, XCB_MOD_MASK_2), row.matches) << row.state;
}

TEST(X11HotKey, IsAbsentOffX11)
{
    // The test suites run on the offscreen platform.
    EXPECT_EQ(X11HotKey::create(), nullptr);
}

} // namespace
