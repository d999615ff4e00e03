#include "core/text/TerminalText.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

// What a server or Claude Code sends can clear the screen, retitle the window or forge a hyperlink.
TEST(TerminalText, ControlsAndEscapeSequencesAreRemovedTextStays)
{
    struct Row
    {
        QString in;
        QString out;
        QString outKeepingLines;
    };
    const Row rows[] = {
        {QStringLiteral("GBP"), QStringLiteral("GBP"), QStringLiteral("GBP")},
        {QStringLiteral("G\x1b[2J\x1b[1;31mBP\x1b[0m"), QStringLiteral("GBP"), QStringLiteral("GBP")},
        {QStringLiteral("\x1b]0;owned\x07Opus"), QStringLiteral("Opus"), QStringLiteral("Opus")},
        {QStringLiteral("\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\"), QStringLiteral("link"),
         QStringLiteral("link")},
        {QStringLiteral("a\u009b31mb\u009d0;t\u009cc"), QStringLiteral("abc"), QStringLiteral("abc")},
        {QStringLiteral("x\x1b"
                        "cy\x1bPdata\x1b\\z"),
         QStringLiteral("xyz"), QStringLiteral("xyz")},
        {QStringLiteral("a\rb\bc\x7f\u0085d\x1b"), QStringLiteral("abcd"), QStringLiteral("abcd")},
        {QStringLiteral("one\ttwo\nthree"), QStringLiteral("onetwothree"), QStringLiteral("one\ttwo\nthree")},
        {QStringLiteral("Sonnet 4.5 · £ ✓"), QStringLiteral("Sonnet 4.5 · £ ✓"),
         QStringLiteral("Sonnet 4.5 · £ ✓")},
        {QStringLiteral("evil\u202Etxt.exe\u2066x\u2069"), QStringLiteral("eviltxt.exex"),
         QStringLiteral("eviltxt.exex")},
        {QStringLiteral("unterminated \x1b]0;title"), QStringLiteral("unterminated "),
         QStringLiteral("unterminated ")},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TerminalText::clean(row.in), row.out) << row.in.toStdString();
        EXPECT_EQ(TerminalText::clean(row.in, true), row.outKeepingLines) << row.in.toStdString();
    }
}
