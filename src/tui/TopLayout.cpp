#include "tui/TopLayout.h"

#include "app/MenuBarTitleBuilder.h"
#include "app/ProviderSummary.h"
#include "app/StateQueries.h"
#include "core/NumberFormatting.h"
#include "core/TimeFormatting.h"
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

ScreenLine header(const PublishedState& input, int columns, bool full)
{
    ScreenLine line;
    line.spans.append({QStringLiteral("Tallyvane"), ColorRole::neutral, true});
    const ForecastStatus status = input.globalStatus;
    line.spans.append({QStringLiteral("  ")});
    line.spans.append({MenuBarTitleBuilder::statusWord(status), colorRole(status), true});
    if (full) {
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
    for (const Provider provider : input.providers) {
        const ProviderCardText summary = input.cards.value(provider);
        const QList<CardRow>& rows = summary.rows;
        if (rows.isEmpty())
            continue;
        const bool isFocused = provider == focused.first;
        ScreenLine title;
        title.spans.append(
            {(isFocused ? (glyphs == Glyphs::utf8 ? QStringLiteral("\u25b8 ") : QStringLiteral("> "))
                        : QStringLiteral("  ")) +
                 displayName(provider),
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
                lines.append(outlook);
            }
        }
    }
    return lines;
}

// One line per window, the most important first: what is left, and when it resets.
Lines compactBlock(const PublishedState& input, const SeriesKey& focused, int columns, Glyphs glyphs)
{
    Lines lines;
    const int barWidth = columns >= 60 ? 10 : 0;
    for (const Provider provider : input.providers) {
        for (const CardRow& row : input.cards.value(provider).rows) {
            const bool isFocused = provider == focused.first;
            ScreenLine line;
            line.spans.append(
                {(provider == Provider::codex ? QStringLiteral("Codex") : QStringLiteral("Claude"))
                         .leftJustified(7, u' ') +
                     row.text.label.leftJustified(7, u' '),
                 ColorRole::neutral, isFocused});
            if (barWidth > 0)
                line.spans.append({bar(row.text, barWidth, glyphs), row.text.role});
            line.spans.append({u' ' + row.text.percent.rightJustified(9, u' '), row.text.role, true});
            QString reset = resetWithCountdown(row.text, row.resetAt, input.now);
            if (reset.startsWith(QLatin1String("Resets ")))
                reset.remove(0, 7);
            line.spans.append({QStringLiteral("  ") + reset});
            if (row.outlook && !row.outlook->runOut.isEmpty())
                line.spans.append({row.outlook->runOut, ColorRole::risky, true});
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
    title.spans.append({QStringLiteral("   basis ") + shortLabel(input.settings.forecastBasis) +
                        QStringLiteral(": ") + explanation(input.settings.forecastBasis)});
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

Lines recommendationsBlock(const PublishedState& input, Glyphs glyphs)
{
    Lines lines;
    for (const Recommendation& recommendation : input.bundle.recommendations.mid(0, 2)) {
        ScreenLine line;
        line.spans.append({recommendationIcon(recommendation.status, glyphs) + u' ',
                           colorRole(recommendation.status), true});
        line.spans.append({recommendation.message});
        lines.append(line);
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

Lines emptyBlock(const PublishedState& input)
{
    Lines lines;
    if (input.codexFound) {
        lines.append(text(QStringLiteral("Connecting to Codex…"), ColorRole::neutral, true));
        lines.append(text(QStringLiteral(
            "Codex usage should appear in a few seconds. Connect Claude to add its quota too.")));
    } else {
        lines.append(text(QStringLiteral("Nothing connected yet"), ColorRole::neutral, true));
        lines.append(text(QStringLiteral("Install the Codex CLI for live usage, or connect Claude below.")));
    }
    lines.append(text(QString()));
    lines.append(text(QStringLiteral("Connect Claude: tallyvane --install-claude-bridge")));
    lines.append(text(QStringLiteral("  Claude needs a one-tap bridge to read its quota (it edits "
                                     "~/.claude/settings.json, safely backed up).")));
    lines.append(text(QStringLiteral("Demo mode: tallyvane top --demo")));
    return lines;
}

Lines helpBlock(Glyphs glyphs)
{
    QStringList bases;
    for (const ForecastBasis basis : allForecastBases)
        bases.append(shortLabel(basis));
    const bool utf8 = glyphs == Glyphs::utf8;
    return {
        text(QStringLiteral("Keys"), ColorRole::neutral, true),
        text(QStringLiteral("  q, Esc       quit (Esc here closes this help)")),
        text(QStringLiteral("  Tab, ") + (utf8 ? QStringLiteral("\u2192") : QStringLiteral("Right")) +
             QStringLiteral("       next provider")),
        text(QStringLiteral("  ") + (utf8 ? QStringLiteral("\u2190") : QStringLiteral("Left ")) +
             QStringLiteral("           previous provider")),
        text(QStringLiteral("  w            next window of the focused provider")),
        text(QStringLiteral("  b            next forecast basis, this view only (") +
             bases.join(QStringLiteral(", ")) + u')'),
        text(QStringLiteral("  r            refresh now")),
        text(QStringLiteral("  Ctrl+L       redraw the whole screen")),
        text(QStringLiteral("  Ctrl+Z       suspend; fg brings the view back")),
        text(QStringLiteral("  ?            show or hide this help")),
    };
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
        const QString message = QStringLiteral("Terminal too small");
        for (int row = 0; row < std::max(rows, 0); ++row) {
            if (row == (rows - 1) / 2)
                lines.append(
                    fitted(text(QString(std::max(0, (columns - static_cast<int>(message.size())) / 2), u' ') +
                                message),
                           columns, glyphs));
            else
                lines.append(fitted(ScreenLine{}, columns, glyphs));
        }
        return lines;
    }

    const bool full = columns >= kFullColumns && rows >= kFullRows;
    const SeriesKey focused = focus(input, view);
    lines.append(header(input, columns, full));
    lines.append(text(QString()));
    const int bodyRows = rows - 3; // header, gap, key help
    Lines body;
    if (view.help) {
        body = helpBlock(glyphs);
    } else if (input.bundle.snapshots.isEmpty()) {
        body = emptyBlock(input);
    } else if (!full) {
        body = compactBlock(input, focused, columns, glyphs);
        const Lines recommendations = recommendationsBlock(input, glyphs);
        if (body.size() + 1 + recommendations.size() <= bodyRows) {
            body.append(text(QString()));
            body.append(recommendations);
        }
    } else {
        body = providerBlock(input, focused, columns, glyphs);
        // The chart takes what the smaller cards leave, at least kChartMinRows; they join in order of use.
        int rest = bodyRows - static_cast<int>(body.size()) - 1;
        // On a taller terminal the chart grows with it before the smaller cards get the rest.
        const int chartRows = std::min(rest, kChartMinRows + std::max(0, (rows - kFullRows) / 2));
        const bool chart = chartRows >= kChartMinRows;
        if (chart)
            rest -= chartRows;
        Lines extras;
        // The what-ifs open with a heading; the other sections are lines of their own.
        const std::pair<Lines, bool> sections[] = {{recommendationsBlock(input, glyphs), false},
                                                   {spendBlock(input, glyphs), false},
                                                   {whatIfsBlock(input, focused), true}};
        for (auto [section, titled] : sections) {
            if (section.isEmpty())
                continue;
            if (section.size() + 1 > rest)
                section = section.mid(0, rest - 1);
            // A heading without a line under it says nothing.
            if (section.size() < (titled ? 2 : 1))
                continue;
            extras.append(text(QString()));
            extras.append(section);
            rest -= static_cast<int>(section.size()) + 1;
        }
        if (chart) {
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
        default:
            result += u'?';
        }
    }
    return result;
}

} // namespace TopLayout
