#include "tui/TopLayout.h"
#include "app/AppState.h"
#include "app/ProviderSummary.h"
#include "app/StateQueries.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "support/TestSupport.h"
#include "tui/Terminal.h"

#include <gtest/gtest.h>

#include <QSet>

#include <algorithm>
#include <chrono>
#include <thread>

#include <unistd.h>

namespace {

const QDateTime kNow = QDateTime::fromString(QStringLiteral("2026-05-12T14:00:00Z"), Qt::ISODate);

PublishedState demoInput(bool showRemaining = true)
{
    ComputeCycleRequest request;
    request.settings.demoMode = true;
    request.settings.showRemaining = showRemaining;
    request.providers = StateQueries::sortedEnabledProviders(request.settings);
    request.now = kNow;
    PublishInputs input;
    input.bundle = AppState::compute(request);
    input.settings = request.settings;
    input.now = kNow;
    input.lastRefresh = kNow;
    return PublishedState::make(std::move(input));
}

QString screen(const QList<ScreenLine>& lines)
{
    QStringList text;
    for (const ScreenLine& line : lines)
        text.append(line.plain());
    return text.join(u'\n');
}

struct SizeCase
{
    int columns;
    int rows;
    Glyphs glyphs;
    bool showRemaining;
};

class TopLayoutSizes : public testing::TestWithParam<SizeCase>
{};

// Every size draws a full screen of exact width with every window's number as `status` gives it, the key
// help last, and nothing but ASCII when the locale is not UTF-8.
TEST_P(TopLayoutSizes, ShowsEveryWindowWithinTheSize)
{
    const SizeCase size = GetParam();
    const PublishedState input = demoInput(size.showRemaining);
    const QList<ScreenLine> lines = TopLayout::render(input, {}, size.columns, size.rows, size.glyphs);
    ASSERT_EQ(lines.size(), size.rows);
    for (const ScreenLine& line : lines)
        EXPECT_EQ(line.plain().size(), size.columns) << line.plain().toStdString();
    const QString text = screen(lines);
    EXPECT_TRUE(lines.last().plain().startsWith(QLatin1String("q quit")))
        << lines.last().plain().toStdString();
    ASSERT_FALSE(input.bundle.forecasts.isEmpty());
    for (const ForecastResult& forecast : input.bundle.forecasts) {
        const double used = forecast.currentUsedPercent;
        const QString percent = NumberFormatting::percent(size.showRemaining ? 100 - used : used) +
                                (size.showRemaining ? QStringLiteral(" left") : QStringLiteral(" used"));
        EXPECT_TRUE(text.contains(percent))
            << forecast.id().toStdString() << " " << percent.toStdString() << "\n"
            << text.toStdString();
    }
    EXPECT_TRUE(text.contains(QLatin1String("Codex")));
    EXPECT_TRUE(text.contains(QLatin1String("Claude")));
    const bool full = size.columns >= 80 && size.rows >= 24;
    const bool hasBraille = std::any_of(
        text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x2800 && c.unicode() <= 0x28ff; });
    if (size.glyphs == Glyphs::ascii)
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
            << text.toStdString();
    else
        EXPECT_EQ(hasBraille, full) << "the chart comes with the full layout";
    if (full) {
        EXPECT_TRUE(text.contains(QLatin1String("Claude Code")));
        EXPECT_TRUE(text.contains(QLatin1String("range")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TopLayoutSizes,
    testing::Values(SizeCase{40, 12, Glyphs::utf8, true}, SizeCase{40, 12, Glyphs::ascii, false},
                    SizeCase{80, 24, Glyphs::utf8, true}, SizeCase{80, 24, Glyphs::ascii, true},
                    SizeCase{80, 24, Glyphs::utf8, false}, SizeCase{120, 40, Glyphs::utf8, false},
                    SizeCase{120, 40, Glyphs::ascii, true}, SizeCase{200, 60, Glyphs::utf8, true}),
    [](const testing::TestParamInfo<SizeCase>& param) {
        const SizeCase& c = param.param;
        return std::to_string(c.columns) + "x" + std::to_string(c.rows) +
               (c.glyphs == Glyphs::utf8 ? "Utf8" : "Ascii") + (c.showRemaining ? "Remaining" : "Used");
    });

TEST(TopLayout, RunOutBeforeTheResetIsShownInTheRiskyColour)
{
    PublishInputs changed = demoInput(false);
    ForecastResult& f = changed.bundle.forecasts[ForecastResult::id(Provider::codex, WindowKind::fiveHour)];
    f.currentUsedPercent = 40;
    f.projectedUsedAtReset = 120;
    f.resetAt = kNow.addSecs(5 * 3600);
    f.runOutAt = kNow.addSecs(3 * 3600 + 45 * 60);
    f.status = ForecastStatus::risky;
    const QList<ScreenLine> lines =
        TopLayout::render(PublishedState::make(changed), {}, 120, 40, Glyphs::utf8);
    const QString runOut = QStringLiteral(" · runs out ") +
                           TimeFormatting::clock(kNow.addSecs(3 * 3600 + 45 * 60), kNow) +
                           QStringLiteral(" (3h 45m)");
    bool found = false;
    for (const ScreenLine& line : lines) {
        for (const Span& span : line.spans) {
            if (span.text == runOut) {
                found = true;
                EXPECT_EQ(span.role, ColorRole::risky);
            }
        }
    }
    EXPECT_TRUE(found) << screen(lines).toStdString();
}

// Another account's card follows its assistant's, headed with its label, and never takes the focus mark.
TEST(TopLayout, AnotherAccountsCardFollowsItsAssistants)
{
    PublishInputs input = demoInput();
    ForecastResult work = input.bundle.forecasts[ForecastResult::id(Provider::claude, WindowKind::fiveHour)];
    work.currentUsedPercent = 70;
    input.bundle.accounts = {
        {true, Provider::claude, "00aa00aa", "ann", "/home/ann/.claude", {}, {}, {}},
        {false, Provider::claude, "1a2b3c4d", "work", "/home/ann/.claude-work", {work}, {}, {}}};
    const QString text = screen(TopLayout::render(PublishedState::make(input), {}, 120, 40, Glyphs::utf8));
    const qsizetype own = text.indexOf(QStringLiteral("Claude Code  "));
    const qsizetype other = text.indexOf(QStringLiteral("  Claude Code \u00b7 work"));
    ASSERT_GE(own, 0) << text.toStdString();
    EXPECT_GT(other, own) << text.toStdString();
    EXPECT_TRUE(text.mid(other).section(QLatin1Char('\n'), 1, 1).contains(QStringLiteral("30% left")))
        << text.toStdString();
}

// The panel's published words for what is set up; the bridge's command only while there is none.
TEST(TopLayout, EmptyStateGivesThePanelsHintsInWords)
{
    for (const auto& [codexFound, claudeBridge] :
         {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
        PublishInputs input;
        input.now = kNow;
        input.codexFound = codexFound;
        input.claudeBridge = claudeBridge;
        const PublishedState state = PublishedState::make(input);
        const QString text = screen(TopLayout::render(state, {}, 100, 30, Glyphs::utf8)).simplified();
        EXPECT_TRUE(text.contains(state.emptyTitle)) << text.toStdString();
        EXPECT_TRUE(text.contains(state.emptyLine)) << text.toStdString();
        EXPECT_EQ(text.contains(QLatin1String("tallyvane --install-claude-bridge")), !claudeBridge)
            << text.toStdString();
        EXPECT_EQ(text.contains(QLatin1String("one-tap bridge")), !claudeBridge) << text.toStdString();
        EXPECT_TRUE(text.contains(QLatin1String("tallyvane top --demo")));
    }
}

bool hasBraille(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0x2800 && c.unicode() <= 0x28ff; });
}

// More windows than the demo has (a Sonnet row, a third Codex window): the chart keeps its rows, no section
// is left as a bare heading, nothing is cut mid-word, a terminal a column short of the full layout is not
// left half blank, and a wide one shows the chart beside the cards.
TEST(TopLayout, FillsTheScreenByPriority)
{
    PublishedState input = demoInput();
    for (ProviderCardText& card : input.cards)
        card.rows.append(card.rows.first());
    const struct
    {
        int columns;
        int rows;
        bool chart;
        bool beside; // chart rows and card rows share lines
    } sizes[] = {{80, 24, true, false},  {80, 28, true, false},  {100, 30, true, false},
                 {79, 24, false, false}, {60, 20, false, false}, {200, 50, true, true}};
    for (const auto& size : sizes) {
        const QList<ScreenLine> lines = TopLayout::render(input, {}, size.columns, size.rows, Glyphs::utf8);
        const QString text = screen(lines);
        EXPECT_EQ(hasBraille(text), size.chart) << text.toStdString();
        const bool beside = std::any_of(lines.begin(), lines.end(), [](const ScreenLine& line) {
            return hasBraille(line.plain()) && line.plain().contains(QLatin1String("% left"));
        });
        EXPECT_EQ(beside, size.beside) << text.toStdString();
        for (const ScreenLine& line : lines)
            EXPECT_EQ(line.plain().size(), size.columns) << line.plain().toStdString();
        EXPECT_FALSE(text.contains(QChar(0x2026))) << text.toStdString();
        const auto blank = std::count_if(lines.begin(), lines.end(), [](const ScreenLine& line) {
            return line.plain().trimmed().isEmpty();
        });
        EXPECT_LE(blank, 5) << text.toStdString();
        for (qsizetype row = 0; row + 1 < lines.size(); ++row) {
            if (lines[row].plain().startsWith(QLatin1String("What-ifs"))) {
                EXPECT_FALSE(lines[row + 1].plain().trimmed().isEmpty()) << text.toStdString();
            }
        }
    }
}

TEST(TopLayout, BelowTheMinimumSaysTheSizeItNeeds)
{
    const PublishedState input = demoInput();
    for (const auto& [columns, rows] : {std::pair{39, 24}, std::pair{80, 9}}) {
        const QList<ScreenLine> lines = TopLayout::render(input, {}, columns, rows, Glyphs::utf8);
        ASSERT_EQ(lines.size(), rows);
        EXPECT_EQ(
            screen(lines).simplified(),
            QStringLiteral("Terminal too small needs 40\u00d710, has %1\u00d7%2").arg(columns).arg(rows));
        EXPECT_EQ(lines[(rows - 1) / 2].plain().indexOf(u'T'), (columns - 18) / 2);
    }
}

// The help lists every key with its words in one column, in both glyph sets, and a legend; the header tells a
// collecting view from one that reads another Tallyvane's log.
TEST(TopLayout, HelpAndHeaderSayWhatTheViewIs)
{
    PublishedState input = demoInput();
    input.settings.demoMode = false;
    for (const Glyphs glyphs : {Glyphs::utf8, Glyphs::ascii}) {
        TopView view;
        view.help = true;
        const QString help = screen(TopLayout::render(input, view, 100, 30, glyphs));
        QSet<qsizetype> columns;
        for (const char* words : {"quit", "next provider", "previous provider", "next window",
                                  "next forecast", "refresh now", "redraw", "suspend", "show or hide"}) {
            const qsizetype at = help.indexOf(QLatin1String(words));
            ASSERT_GE(at, 0) << words << "\n" << help.toStdString();
            columns.insert(at - help.lastIndexOf(u'\n', at) - 1);
        }
        EXPECT_EQ(columns.size(), 1) << help.toStdString();
        for (const char* legend : {"Shift+Tab", "Safe", "Watch", "Risky", "Limited", "even pace"})
            EXPECT_TRUE(help.contains(QLatin1String(legend))) << legend << "\n" << help.toStdString();
    }
    for (const bool collects : {false, true}) {
        TopView view;
        view.collects = collects;
        const QString header = TopLayout::render(input, view, 100, 30, Glyphs::utf8)[0].plain();
        EXPECT_TRUE(
            header.contains(collects ? QLatin1String("collecting") : QLatin1String("reading another")))
            << header.toStdString();
    }
}

// Tab, the arrows and `w` walk the providers and windows with data and wrap; `b` walks the bases in order.
TEST(TopLayout, KeysMoveTheFocusAndWrap)
{
    const PublishedState input = demoInput();
    const QList<Provider> providers = TopLayout::providers(input);
    ASSERT_EQ(providers, (QList<Provider>{Provider::codex, Provider::claude}));
    TopView view;
    const Provider first = TopLayout::focus(input, view).first;
    view = TopLayout::nextProvider(input, view, 1);
    const Provider second = TopLayout::focus(input, view).first;
    EXPECT_NE(second, first);
    EXPECT_EQ(TopLayout::focus(input, TopLayout::nextProvider(input, view, 1)).first, first);
    EXPECT_EQ(TopLayout::focus(input, TopLayout::nextProvider(input, view, -1)).first, first);
    const QString focusedName = QStringLiteral("\u25b8 ") + displayName(second);
    EXPECT_TRUE(screen(TopLayout::render(input, view, 120, 40, Glyphs::utf8)).contains(focusedName));

    const QList<WindowKind> kinds = TopLayout::windows(input, second);
    ASSERT_GE(kinds.size(), 2);
    QList<WindowKind> visited;
    for (qsizetype i = 0; i <= kinds.size(); ++i) {
        visited.append(TopLayout::focus(input, view).second);
        view = TopLayout::nextWindow(input, view);
    }
    EXPECT_EQ(visited.first(), visited.last());
    EXPECT_EQ(QSet<WindowKind>(visited.begin(), visited.end()).size(), kinds.size());

    EXPECT_EQ(TopLayout::nextBasis(ForecastBasis::last30m), ForecastBasis::last1h);
    EXPECT_EQ(TopLayout::nextBasis(ForecastBasis::smart), ForecastBasis::last30m);
}

TEST(Terminal, KeysAndColours)
{
    using Key = Terminal::Key;
    const std::vector<std::pair<QByteArray, QList<Key>>> cases{
        {"q", {Key::quit}},
        {"\x1b", {Key::escape}},
        {"\x0cq", {Key::redraw, Key::quit}},
        {"\t", {Key::nextProvider}},
        {"\x1b[C", {Key::nextProvider}},
        {"\x1bOD", {Key::previousProvider}},
        {"\x1b[1;5C", {Key::nextProvider}},
        {"wbr?", {Key::nextWindow, Key::nextBasis, Key::refresh, Key::help}},
        {"\x1b[Ax", {Key::other, Key::other}},
    };
    for (const auto& [input, keys] : cases)
        EXPECT_EQ(Terminal::keysOf(input), keys) << input.toStdString();

    const ScreenLine line{{Span{QStringLiteral("Safe"), ColorRole::safe, true}, Span{QStringLiteral(" ok")}}};
    EXPECT_EQ(Terminal::encode(line, true), QByteArray("\x1b[1;32mSafe\x1b[0m ok"));
    EXPECT_EQ(Terminal::encode(line, false), QByteArray("\x1b[1mSafe\x1b[0m ok"));
}

// An arrow key whose bytes arrive a few milliseconds apart (a slow SSH link) is the arrow, not Esc and junk.
TEST(Terminal, AnEscapeSequenceSplitAcrossReadsIsOneKey)
{
    using Key = Terminal::Key;
    const struct
    {
        QByteArray first;
        QByteArray later; // written 5 ms after the first part
        QList<Key> keys;
    } rows[] = {
        {"\x1b", "[C", {Key::nextProvider}},
        {"\x1b[1;", "5D", {Key::previousProvider}},
        {"\x1b", "", {Key::escape}},
    };
    for (const auto& row : rows) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], row.first.constData(), size_t(row.first.size())), row.first.size());
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!row.later.isEmpty()) {
                EXPECT_EQ(::write(fds[1], row.later.constData(), size_t(row.later.size())), row.later.size());
            }
        });
        EXPECT_EQ(Terminal::readKeys(fds[0]), row.keys) << row.first.toStdString();
        writer.join();
        ::close(fds[0]);
        ::close(fds[1]);
    }
}

} // namespace
