#include "tui/TopLayout.h"

#include "app/MenuBarTitleBuilder.h"
#include "app/ProviderSummary.h"
#include "app/StateQueries.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "tui/RangeChart.h"

#include <algorithm>
#include <cmath>

namespace TopLayout {

namespace {

constexpr int kFullColumns = 80;
constexpr int kFullRows = 24;
constexpr int kMinColumns = 40;
constexpr int kMinRows = 10;
constexpr int kLabelWidth = 9; // "  Sonnet " and the outlook's indent
constexpr int kChartMinRows = 6;
constexpr int kChartMaxRows = 18;
constexpr int kSideBySideColumns = 160; // cards of 80 columns, and a chart as wide beside them
constexpr int kColumnGap = 2;

using Lines = QList<ScreenLine>;

ScreenLine text(const QString& value, ColorRole role = ColorRole::neutral, bool bold = false)
{
    return ScreenLine{{Span{value, role, bold}}};
}

// Cut or pad to exactly `columns`, in ASCII when asked; a cut line ends in "…".
ScreenLine fitted(ScreenLine line, int columns, Glyphs glyphs)
{
    if (glyphs == Glyphs::ascii) {
        for (Span& span : line.spans)
            span.text = ascii(span.text);
    }
    ScreenLine result;
    int used = 0;
    for (Span& span : line.spans) {
        if (used >= columns)
            break;
        const int room = columns - used;
        if (span.text.size() > room) {
            span.text.truncate(room);
            if (room > 0)
                span.text[room - 1] = glyphs == Glyphs::utf8 ? QChar(0x2026) : QChar(u'~');
        }
        used += static_cast<int>(span.text.size());
        if (!span.text.isEmpty())
            result.spans.append(span);
    }
    if (used < columns)
        result.spans.append({QString(columns - used, u' ')});
    return result;
}

// Broken between words into lines of at most `columns`, each after the first indented by `indent`.
Lines wrapped(const ScreenLine& line, int columns, int indent)
{
    Lines lines{ScreenLine{}};
    int used = 0;
    for (const Span& span : line.spans) {
        qsizetype at = 0;
        bool continued = false;
        while (at < span.text.size()) {
            // A word with the spaces before it.
            qsizetype end = at;
            while (end < span.text.size() && span.text[end] == u' ')
                ++end;
            while (end < span.text.size() && span.text[end] != u' ')
                ++end;
            QString word = span.text.mid(at, end - at);
            at = end;
            if (used + word.size() > columns && used > indent) {
                lines.append(ScreenLine{{Span{QString(indent, u' ')}}});
                used = indent;
                word = word.trimmed();
                continued = false;
            }
            QList<Span>& spans = lines.last().spans;
            // One span stays one span on its line.
            if (continued && !spans.isEmpty())
                spans.last().text += word;
            else
                spans.append({word, span.role, span.bold});
            continued = true;
            used += static_cast<int>(word.size());
        }
    }
    return lines;
}

QString countdownTo(const QDateTime& when, const QDateTime& now)
{
    return TimeFormatting::countdown(static_cast<double>(now.msecsTo(when)) / 1000.0);
}

QString sourceText(const PublishedState& input, Provider provider)
{
    const ProviderCardText card = input.cards.value(provider);
    if (!card.freshness)
        return {};
    if (card.demo)
        return *card.freshness;
    return *card.freshness == card.sourceTag ? card.sourceTag
                                             : card.sourceTag + QStringLiteral(" · ") + *card.freshness;
}

ScreenLine header(const PublishedState& input, int columns, const TopView& view)
{
    ScreenLine line;
    line.spans.append({QStringLiteral("Tallyvane"), ColorRole::neutral, true});
    const ForecastStatus status = input.globalStatus;
    line.spans.append({QStringLiteral("  ")});
    line.spans.append({MenuBarTitleBuilder::statusWord(status), colorRole(status), true});
    if (!input.settings.demoMode)
        line.spans.append({view.collects ? QStringLiteral("   collecting")
                                         : QStringLiteral("   reading another Tallyvane's log")});
    if (columns >= kFullColumns) {
        for (const Provider provider : input.providers) {
            const QString source = sourceText(input, provider);
            if (!source.isEmpty())
                line.spans.append(
                    {QStringLiteral("   ") + displayName(provider) + QStringLiteral(": ") + source});
        }
    }
    if (input.lastRefresh) {
        const QString updated =
            QStringLiteral("updated ") + TimeFormatting::clock(input.lastRefresh, input.now);
        const int gap = columns - static_cast<int>(line.plain().size()) - static_cast<int>(updated.size());
        if (gap >= 2)
            line.spans.append({QString(gap, u' ') + updated});
    }
    return line;
}

QString bar(const UsageRowText& row, int width, Glyphs glyphs)
{
    const int filled = static_cast<int>(std::lround(row.barFraction * width));
    QString result = QString(filled, glyphs == Glyphs::utf8 ? QChar(0x2588) : QChar(u'#')) +
                     QString(width - filled, glyphs == Glyphs::utf8 ? QChar(0x2591) : QChar(u'-'));
    if (row.idealTick) {
        const int at = std::clamp(static_cast<int>(std::lround(*row.idealTick * width)), 0, width - 1);
        result[at] = glyphs == Glyphs::utf8 ? QChar(0x2502) : QChar(u'|');
    }
    return result;
}

// "Resets 16:30 today (2h 10m)".
QString resetWithCountdown(const UsageRowText& row, const std::optional<QDateTime>& resetAt,
                           const QDateTime& now)
{
    if (row.reset.isEmpty() || !resetAt || *resetAt <= now || row.reset.endsWith(QLatin1String("from now")))
        return row.reset;
    return row.reset + QStringLiteral(" (") + countdownTo(*resetAt, now) + u')';
}

Lines providerBlock(const PublishedState& input, const SeriesKey& focused, int columns, Glyphs glyphs)
{
    Lines lines;
    const int barWidth = std::clamp(columns / 4, 10, 40);
    for (const ProviderCardText& summary : input.cardsInOrder()) {
        const QList<CardRow>& rows = summary.rows;
        if (rows.isEmpty())
            continue;
        // The focus follows the default accounts' windows.
        const bool isFocused = summary.account.isEmpty() && summary.provider == focused.first;
        ScreenLine title;
        title.spans.append(
            {(isFocused ? (glyphs == Glyphs::utf8 ? QStringLiteral("\u25b8 ") : QStringLiteral("> "))
                        : QStringLiteral("  ")) +
                 summary.title,
             ColorRole::neutral, isFocused});
        if (const std::optional<ForecastStatus> status = summary.status)
            title.spans.append({QStringLiteral("  ") + label(*status), colorRole(*status), true});
        if (!summary.chips.isEmpty())
            title.spans.append({QStringLiteral("   ") + summary.chips.join(QStringLiteral(" · "))});
        lines.append(title);
        for (const CardRow& row : rows) {
            const bool rowFocused = isFocused && row.window == focused.second;
            ScreenLine line;
            line.spans.append(
                {(QStringLiteral("  ") + row.text.label).leftJustified(kLabelWidth - 1, u' ') + u' ',
                 ColorRole::neutral, rowFocused});
            line.spans.append({bar(row.text, barWidth, glyphs), row.text.role});
            line.spans.append({u' ' + row.text.percent.rightJustified(9, u' '), ColorRole::neutral, true});
            line.spans.append({QStringLiteral("   ") + resetWithCountdown(row.text, row.resetAt, input.now)});
            if (row.text.trailing)
                line.spans.append({QStringLiteral("   ") + *row.text.trailing});
            lines.append(line);
            if (row.outlook) {
                ScreenLine outlook;
                outlook.spans.append(
                    {QString(kLabelWidth, u' ') + row.outlook->text, colorRole(row.outlook->status)});
                if (!row.outlook->runOut.isEmpty())
                    outlook.spans.append({row.outlook->runOut, ColorRole::risky, true});
                if (row.forecast)
                    outlook.spans.append({QStringLiteral(" · ") +
                                          displayLabel(row.forecast->confidence).toLower() +
                                          QStringLiteral(" confidence")});
                lines.append(wrapped(outlook, columns, kLabelWidth));
            }
        }
    }
    return lines;
}

// One line per window, the most important first: its status, when it runs out, what is left, the reset.
Lines compactBlock(const PublishedState& input, const SeriesKey& focused, int columns, Glyphs glyphs)
{
    Lines lines;
    const int barWidth = columns >= 75 ? 10 : 0;
    for (const Provider provider : input.providers) {
        for (const CardRow& row : input.cards.value(provider).rows) {
            const bool isFocused = provider == focused.first;
            ScreenLine line;
            line.spans.append(
                {(provider == Provider::codex ? QStringLiteral("Codex") : QStringLiteral("Claude"))
                         .leftJustified(7, u' ') +
                     row.text.label.leftJustified(7, u' '),
                 ColorRole::neutral, isFocused});
            if (row.outlook)
                line.spans.append({label(row.outlook->status).leftJustified(13, u' '),
                                   colorRole(row.outlook->status), true});
            if (row.outlook && !row.outlook->runOut.isEmpty())
                line.spans.append(
                    {row.outlook->runOut.mid(row.outlook->runOut.indexOf(QLatin1String("runs"))) +
                         QStringLiteral("  "),
                     ColorRole::risky, true});
            if (barWidth > 0)
                line.spans.append({bar(row.text, barWidth, glyphs), row.text.role});
            line.spans.append({u' ' + row.text.percent.rightJustified(9, u' '), row.text.role, true});
            QString reset = resetWithCountdown(row.text, row.resetAt, input.now);
            if (reset.startsWith(QLatin1String("Resets ")))
                reset.remove(0, 7);
            line.spans.append({QStringLiteral("  ") + reset});
            lines.append(line);
        }
    }
    return lines;
}

Lines chartBlock(const PublishedState& input, const SeriesKey& shown, int columns, int rows, Glyphs glyphs)
{
    Lines lines;
    ScreenLine title;
    title.spans.append(
        {displayName(shown.first) + QStringLiteral(" · ") + ProviderSummary::rangeTitle(shown.second),
         ColorRole::neutral, true});
    const QString basis = QStringLiteral("   basis ") + shortLabel(input.settings.forecastBasis);
    const QString explained = basis + QStringLiteral(": ") + explanation(input.settings.forecastBasis);
    // The explanation goes rather than end mid-word.
    title.spans.append({title.plain().size() + explained.size() <= columns ? explained : basis});
    lines.append(title);
    const std::optional<ForecastResult> forecast = input.forecast(shown.first, shown.second);
    if (!forecast) {
        lines.append(text(QStringLiteral("No data for this window yet.")));
        return lines;
    }
    lines.append(RangeChart::render(RangeChartData::of(input.bundle, *forecast, input.now), columns, rows - 1,
                                    glyphs));
    return lines;
}

Lines whatIfsBlock(const PublishedState& input, const SeriesKey& shown)
{
    const QList<ScenarioResult> scenarios = input.scenariosOf(shown.first, shown.second);
    if (scenarios.isEmpty())
        return {};
    Lines lines{text(ProviderSummary::whatIfsTitle(shown.second), ColorRole::neutral, true)};
    for (const ScenarioResult& scenario : scenarios) {
        QStringList parts = ProviderSummary::whatIfLines(scenario, input.settings.showRemaining, input.now);
        parts.removeAll(QString());
        lines.append(text(QStringLiteral("  ") + scenario.title + QStringLiteral("  ") + parts.join(u' ')));
    }
    return lines;
}

QString recommendationIcon(ForecastStatus status, Glyphs glyphs)
{
    const bool utf8 = glyphs == Glyphs::utf8;
    switch (status) {
    case ForecastStatus::safe:
        return utf8 ? QStringLiteral("\u2713") : QStringLiteral("+");
    case ForecastStatus::watch:
        return utf8 ? QStringLiteral("\u25c9") : QStringLiteral("o");
    case ForecastStatus::risky:
    case ForecastStatus::limitLikely:
        return QStringLiteral("!");
    case ForecastStatus::limited:
        return utf8 ? QStringLiteral("\u2716") : QStringLiteral("x");
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        break;
    }
    return QStringLiteral("i");
}

Lines recommendationsBlock(const PublishedState& input, int columns, Glyphs glyphs)
{
    Lines lines;
    for (const Recommendation& recommendation : input.bundle.recommendations.mid(0, 2)) {
        ScreenLine line;
        line.spans.append({recommendationIcon(recommendation.status, glyphs) + u' ',
                           colorRole(recommendation.status), true});
        line.spans.append({recommendation.message});
        lines.append(wrapped(line, columns, 2));
    }
    return lines;
}

// "Spend today $1.20 · this week $8.40" and the week trend per provider with transcript tokens.
Lines spendBlock(const PublishedState& input, Glyphs glyphs)
{
    if (input.usage.isEmpty())
        return {};
    ScreenLine spend;
    spend.spans.append({QStringLiteral("Spend"), ColorRole::neutral, true});
    spend.spans.append({QStringLiteral(" today ") + input.spendToday + QStringLiteral(" · this week ") +
                        input.spendThisWeekTotal + QStringLiteral(" (est.)")});
    Lines lines{spend};
    ScreenLine trend;
    for (const ProviderUsage& week : input.usage) {
        if (std::none_of(week.days.begin(), week.days.end(), [](qint64 tokens) { return tokens > 0; }))
            continue;
        if (trend.spans.isEmpty())
            trend.spans.append({QStringLiteral("Trend"), ColorRole::neutral, true});
        QString part = QStringLiteral("  ") + displayName(week.provider) + u' ' +
                       NumberFormatting::tokens(week.thisWeek);
        if (week.deltaPct) {
            const bool up = *week.deltaPct >= 0;
            part += u' ' +
                    (glyphs == Glyphs::utf8 ? (up ? QStringLiteral("\u2197") : QStringLiteral("\u2198"))
                                            : (up ? QStringLiteral("^") : QStringLiteral("v"))) +
                    NumberFormatting::percent(*week.deltaPct);
        }
        trend.spans.append({part});
    }
    if (!trend.spans.isEmpty()) {
        trend.spans.append({QStringLiteral("  (this week vs last)")});
        lines.append(trend);
    }
    return lines;
}

// "Machines" and each other machine's health, then the last seven days by machine.
Lines machinesBlock(const PublishedState& input, int columns)
{
    if (input.machineHealth.isEmpty())
        return {};
    ScreenLine heading;
    heading.spans.append({QStringLiteral("Machines"), ColorRole::neutral, true});
    Lines lines{heading};
    for (const QString& health : input.machineHealth)
        lines.append(wrapped(text(QStringLiteral("  ") + health), columns, 4));
    if (!input.machineUsage.isEmpty())
        lines.append(wrapped(
            text(QStringLiteral("  7 days: ") + input.machineUsage.join(QStringLiteral(" · "))), columns, 4));
    return lines;
}

// The panel's empty state in words, its buttons as the commands that do the same.
Lines emptyBlock(const PublishedState& input, int columns)
{
    Lines lines{text(input.emptyTitle, ColorRole::neutral, true)};
    lines.append(wrapped(text(input.emptyLine), columns, 0));
    lines.append(text(QString()));
    // Once the bridge runs there is nothing to connect, and the title already says what comes.
    if (!input.connectClaudeLabel.isEmpty()) {
        lines.append(text(input.connectClaudeLabel + QStringLiteral(": tallyvane --install-claude-bridge")));
        lines.append(wrapped(text(QStringLiteral("  ") + input.welcomeClaudeLine), columns, 2));
    }
    lines.append(text(QStringLiteral("Demo mode: tallyvane top --demo")));
    return lines;
}

// Advice, spend and what-ifs, each after a blank line, as many as `rest` rows hold; `rest` keeps what is
// left.
Lines extrasBlock(const PublishedState& input, const SeriesKey& focused, int columns, int& rest,
                  Glyphs glyphs)
{
    Lines extras;
    // The what-ifs open with a heading; the other sections are lines of their own.
    const std::pair<Lines, bool> sections[] = {{recommendationsBlock(input, columns, glyphs), false},
                                               {spendBlock(input, glyphs), false},
                                               {machinesBlock(input, columns), false},
                                               {whatIfsBlock(input, focused), true}};
    for (auto [section, titled] : sections) {
        // A heading without a line under it says nothing.
        if (section.isEmpty() || rest < (titled ? 3 : 2))
            continue;
        section = section.mid(0, rest - 1);
        extras.append(text(QString()));
        extras.append(section);
        rest -= static_cast<int>(section.size()) + 1;
    }
    return extras;
}

// A wide terminal: the cards and the rest on the left, the chart beside them over every row of the body.
Lines sideBySide(const PublishedState& input, const SeriesKey& focused, int columns, int rows, Glyphs glyphs)
{
    const int leftColumns = columns / 2;
    const int chartColumns = columns - leftColumns - kColumnGap;
    Lines left = providerBlock(input, focused, leftColumns, glyphs);
    if (static_cast<int>(left.size()) > rows)
        left = compactBlock(input, focused, leftColumns, glyphs);
    int rest = rows - static_cast<int>(left.size());
    left.append(extrasBlock(input, focused, leftColumns, rest, glyphs));
    const Lines chart = chartBlock(input, focused, chartColumns, rows, glyphs);
    Lines lines;
    for (qsizetype row = 0; row < rows; ++row) {
        ScreenLine line = fitted(row < left.size() ? left[row] : ScreenLine{}, leftColumns, glyphs);
        line.spans.append({QString(kColumnGap, u' ')});
        line.spans.append(fitted(row < chart.size() ? chart[row] : ScreenLine{}, chartColumns, glyphs).spans);
        lines.append(line);
    }
    return lines;
}

Lines helpBlock(Glyphs glyphs)
{
    QStringList bases;
    for (const ForecastBasis basis : allForecastBases)
        bases.append(shortLabel(basis));
    const bool utf8 = glyphs == Glyphs::utf8;
    const std::pair<QString, QString> keys[] = {
        {QStringLiteral("q, Esc"), QStringLiteral("quit (Esc here closes this help)")},
        {QStringLiteral("Tab, ") + (utf8 ? QStringLiteral("\u2192") : QStringLiteral("Right")),
         QStringLiteral("next provider")},
        {QStringLiteral("Shift+Tab, ") + (utf8 ? QStringLiteral("\u2190") : QStringLiteral("Left")),
         QStringLiteral("previous provider")},
        {QStringLiteral("w"), QStringLiteral("next window of the focused provider")},
        {QStringLiteral("b"),
         QStringLiteral("next forecast basis, this view only (") + bases.join(QStringLiteral(", ")) + u')'},
        {QStringLiteral("r"), QStringLiteral("refresh now")},
        {QStringLiteral("Ctrl+L"), QStringLiteral("redraw the whole screen")},
        {QStringLiteral("Ctrl+Z"), QStringLiteral("suspend; fg brings the view back")},
        {QStringLiteral("?"), QStringLiteral("show or hide this help")},
    };
    Lines lines{text(QStringLiteral("Keys"), ColorRole::neutral, true)};
    for (const auto& [key, what] : keys)
        lines.append(text(QStringLiteral("  ") + key.leftJustified(18, u' ') + what));
    lines.append(text(QString()));
    lines.append(text(QStringLiteral("Colours"), ColorRole::neutral, true));
    ScreenLine colours{{Span{QStringLiteral("  ")}}};
    for (const ForecastStatus status :
         {ForecastStatus::safe, ForecastStatus::watch, ForecastStatus::risky, ForecastStatus::limited})
        colours.spans.append({label(status) + QStringLiteral("  "), colorRole(status), true});
    colours.spans.append({QStringLiteral("(bars, statuses and run-outs)")});
    lines.append(colours);
    lines.append(text(QStringLiteral("  ") + (utf8 ? QStringLiteral("\u2502") : QStringLiteral("|")) +
                      QStringLiteral(" in a bar: where an even pace to the reset would be now")));
    return lines;
}

ScreenLine keyHelp(const PublishedState& input, int columns)
{
    const QString basis = shortLabel(input.settings.forecastBasis);
    if (columns >= 70)
        return text(QStringLiteral("q quit · Tab provider · w window · b basis: ") + basis +
                    QStringLiteral(" · r refresh · ? help"));
    return text(QStringLiteral("q quit Tab w b:") + basis + QStringLiteral(" r ? help"));
}

} // namespace

QList<Provider> providers(const PublishedState& input)
{
    QList<Provider> result;
    for (const Provider provider : input.providers) {
        if (input.forecast(provider, WindowKind::fiveHour) ||
            input.forecast(provider, WindowKind::sevenDay) || input.forecast(provider, WindowKind::weekly))
            result.append(provider);
    }
    return result;
}

QList<WindowKind> windows(const PublishedState& input, Provider provider)
{
    QList<WindowKind> result;
    for (const SeriesKey& key : StateQueries::availableSeries(input.bundle.series)) {
        if (key.first == provider && input.forecast(key.first, key.second))
            result.append(key.second);
    }
    return result;
}

SeriesKey focus(const PublishedState& input, const TopView& view)
{
    // Until a key moves it, the terminal follows the window the panel shows.
    const SeriesKey& followed = input.focused;
    const QList<Provider> shown = providers(input);
    Provider provider = followed.first;
    if (view.provider && shown.contains(*view.provider))
        provider = *view.provider;
    else if (!shown.contains(provider) && !shown.isEmpty())
        provider = shown.first();
    const QList<WindowKind> kinds = windows(input, provider);
    if (view.window && kinds.contains(*view.window))
        return {provider, *view.window};
    if (provider == followed.first && kinds.contains(followed.second))
        return {provider, followed.second};
    return {provider, kinds.isEmpty() ? WindowKind::fiveHour : kinds.first()};
}

TopView nextProvider(const PublishedState& input, const TopView& view, int step)
{
    const QList<Provider> shown = providers(input);
    if (shown.isEmpty())
        return view;
    const auto at = shown.indexOf(focus(input, view).first);
    const auto count = shown.size();
    TopView next = view;
    next.provider = shown[((at < 0 ? 0 : at) + step % count + count) % count];
    next.window.reset();
    return next;
}

TopView nextWindow(const PublishedState& input, const TopView& view)
{
    const SeriesKey current = focus(input, view);
    const QList<WindowKind> kinds = windows(input, current.first);
    if (kinds.isEmpty())
        return view;
    TopView next = view;
    next.provider = current.first;
    next.window = kinds[(kinds.indexOf(current.second) + 1) % kinds.size()];
    return next;
}

ForecastBasis nextBasis(ForecastBasis basis)
{
    const auto at = std::find(allForecastBases.begin(), allForecastBases.end(), basis);
    const auto index = at == allForecastBases.end() ? 0 : (at - allForecastBases.begin() + 1);
    return allForecastBases[static_cast<size_t>(index) % allForecastBases.size()];
}

QList<ScreenLine> render(const PublishedState& input, const TopView& view, int columns, int rows,
                         Glyphs glyphs)
{
    Lines lines;
    if (columns < kMinColumns || rows < kMinRows) {
        const QStringList message{QStringLiteral("Terminal too small"),
                                  QStringLiteral("needs %1%2%3, has %4%2%5")
                                      .arg(kMinColumns)
                                      .arg(glyphs == Glyphs::utf8 ? QChar(0x00d7) : QChar(u'x'))
                                      .arg(kMinRows)
                                      .arg(columns)
                                      .arg(rows)};
        for (int row = 0; row < std::max(rows, 0); ++row) {
            const qsizetype at = row - (rows - 1) / 2;
            const QString shown = at >= 0 && at < message.size() ? message[at] : QString();
            lines.append(fitted(
                text(QString(std::max(0, (columns - static_cast<int>(shown.size())) / 2), u' ') + shown),
                columns, glyphs));
        }
        return lines;
    }

    const SeriesKey focused = focus(input, view);
    lines.append(wrapped(header(input, columns, view), columns, 2));
    lines.append(text(QString()));
    const int bodyRows = rows - static_cast<int>(lines.size()) - 1; // and the key help
    Lines body;
    if (view.help) {
        body = helpBlock(glyphs);
    } else if (input.bundle.snapshots.isEmpty()) {
        body = emptyBlock(input, columns);
    } else if (columns >= kSideBySideColumns) {
        body = sideBySide(input, focused, columns, bodyRows, glyphs);
    } else {
        // By priority: every window's line, the chart's fewest rows, the cards in full, then the rest.
        body = providerBlock(input, focused, columns, glyphs);
        const bool chartFits = columns >= kFullColumns;
        int chartRows = chartFits ? kChartMinRows : 0;
        if (static_cast<int>(body.size()) + (chartRows > 0 ? chartRows + 1 : 0) > bodyRows)
            body = compactBlock(input, focused, columns, glyphs);
        if (static_cast<int>(body.size()) + chartRows + 1 > bodyRows)
            chartRows = 0;
        int rest = bodyRows - static_cast<int>(body.size()) - (chartRows > 0 ? chartRows + 1 : 0);
        // On a taller terminal the chart grows with it before the smaller cards get the rest.
        const int growth = chartRows > 0 ? std::min(rest, std::max(0, (rows - kFullRows) / 2)) : 0;
        chartRows += growth;
        rest -= growth;
        const Lines extras = extrasBlock(input, focused, columns, rest, glyphs);
        if (chartRows > 0) {
            body.append(text(QString()));
            body.append(
                chartBlock(input, focused, columns, std::min(kChartMaxRows, chartRows + rest), glyphs));
        }
        body.append(extras);
    }
    body = body.mid(0, bodyRows);
    lines.append(body);
    while (lines.size() < rows - 1)
        lines.append(text(QString()));
    lines.append(keyHelp(input, columns));
    for (ScreenLine& line : lines)
        line = fitted(line, columns, glyphs);
    return lines;
}

QString ascii(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            result += c;
            continue;
        }
        switch (c.unicode()) {
        case 0x2014: // —
        case 0x2013: // –
        case 0x00b7: // ·
            result += u'-';
            break;
        case 0x2026: // …
            result += QStringLiteral("...");
            break;
        case 0x00a3: // £
            result += QStringLiteral("GBP ");
            break;
        case 0x20ac: // €
            result += QStringLiteral("EUR ");
            break;
        case 0x2192:
            result += QStringLiteral("->");
            break;
        case 0x2190:
            result += QStringLiteral("<-");
            break;
        case 0x203a: // ›
            result += u'>';
            break;
        default:
            result += u'?';
        }
    }
    return result;
}

} // namespace TopLayout
