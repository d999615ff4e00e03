#pragma once

#include "app/PublishedState.h"
#include "tui/ScreenLine.h"

#include <QList>

#include <optional>

// What the viewer chose in this terminal; absent members follow the published focus.
struct TopView
{
    std::optional<Provider> provider;
    std::optional<WindowKind> window;
    bool help = false;
    // This view runs the providers itself, rather than reading the log of the Tallyvane that does.
    bool collects = false;
};

// The screen of `tallyvane top` as pure functions of the input, the viewer's choices and the terminal size:
// every text comes from the same engines and labels as the panel and `status`.
namespace TopLayout {

// Enabled providers with a 5-hour or long-window forecast, in display order (the panel's tabs).
[[nodiscard]] QList<Provider> providers(const PublishedState& input);
// The provider's windows that have a forecast, five-hour first.
[[nodiscard]] QList<WindowKind> windows(const PublishedState& input, Provider provider);
// The provider and window the chart shows: the viewer's choice while it has data, else the settings' focus
// (the most urgent series when automatic), else the first with data.
[[nodiscard]] SeriesKey focus(const PublishedState& input, const TopView& view);
// Tab, the arrow keys and `w`: the next (step 1) or previous (step -1) provider, the focused provider's next
// window, each wrapping around.
[[nodiscard]] TopView nextProvider(const PublishedState& input, const TopView& view, int step);
[[nodiscard]] TopView nextWindow(const PublishedState& input, const TopView& view);
[[nodiscard]] ForecastBasis nextBasis(ForecastBasis basis);

// Exactly `rows` lines of exactly `columns` characters, filled by priority: every window, the chart's fewest
// rows (from 80 columns), the cards in full, advice, spend and what-ifs; from 160 columns the chart stands
// beside the rest; below 40 × 10 only the size needed.
[[nodiscard]] QList<ScreenLine> render(const PublishedState& input, const TopView& view, int columns,
                                       int rows, Glyphs glyphs);

// Text for a terminal without UTF-8: every character the layout uses has a plain stand-in.
[[nodiscard]] QString ascii(const QString& text);

} // namespace TopLayout
