#include "cli/StatusCommand.h"

#include "app/AccountSettings.h"
#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/SeriesCache.h"
#include "app/StateQueries.h"
#include "app/StateReports.h"
#include "cli/CommandLineOptions.h"
#include "core/forecast/CalibratedForecast.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SettingsStore.h"
#include "core/io/SnapshotStore.h"
#include "core/runtime/Clock.h"
#include "core/text/JsonLines.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TerminalText.h"
#include "core/text/TimeFormatting.h"
#include "history/ClaudeFiles.h"
#include "history/UsageHistory.h"
#include "tui/Terminal.h"
#include "tui/TopLayout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <type_traits>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace StatusCommand {

namespace {

QString allRawValues(const auto& values)
{
    QStringList raw;
    for (const auto value : values)
        raw.append(rawValue(value));
    return raw.join(QStringLiteral(", "));
}

std::optional<QDateTime> parseInstant(const QString& text)
{
    // Plain numbers are epoch seconds to the log's reader; here only a date-time is meant.
    const qsizetype timeStart = text.indexOf(QLatin1Char('T'), 0, Qt::CaseInsensitive);
    if (timeStart < 0)
        return std::nullopt;
    if (auto date = JsonLines::parseDate(text))
        return date;
    // Without an offset the instant is local time, as ISO 8601 reads it. One the date parser refused
    // (beyond ±18:00, say) stays refused.
    const QStringView time = QStringView(text).sliced(timeStart);
    if (time.contains(QLatin1Char('Z'), Qt::CaseInsensitive) || time.contains(QLatin1Char('+')) ||
        time.contains(QLatin1Char('-')))
        return std::nullopt;
    const QDateTime local = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (local.isValid())
        return local.toUTC();
    return std::nullopt;
}

void putJsonDouble(QJsonObject& object, const QString& key, std::optional<double> value)
{
    // JSON has no NaN or infinity: such a value is left out like an absent one.
    if (value && std::isfinite(*value))
        object.insert(key, *value);
}

void putJsonDate(QJsonObject& object, const QString& key, const std::optional<QDateTime>& value)
{
    if (value && value->isValid())
        object.insert(key, JsonLines::formatDate(*value));
}

template <typename T> void putJson(QJsonObject& object, const QString& key, const T& value)
{
    if constexpr (std::is_enum_v<T>)
        object.insert(key, rawValue(value));
    else if constexpr (std::is_same_v<T, double> || std::is_same_v<T, std::optional<double>>)
        putJsonDouble(object, key, value);
    else if constexpr (std::is_same_v<T, std::optional<QDateTime>>)
        putJsonDate(object, key, value);
    else
        object.insert(key, value);
}

QJsonObject forecastJson(const ForecastResult& f)
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), f.id());
    const auto put = [&](const auto&... field) {
        (putJson(o, QString::fromLatin1(field.key), f.*field.member), ...);
    };
    std::apply(put, forecastResultFields);
    return o;
}

QJsonObject paceJson(const PaceResult& p)
{
    QJsonObject o;
    o.insert(QStringLiteral("verdict"), rawValue(p.verdict));
    putJsonDouble(o, QStringLiteral("elapsedRatio"), p.elapsedRatio);
    putJsonDouble(o, QStringLiteral("idealUsageNow"), p.idealUsageNow);
    putJsonDouble(o, QStringLiteral("paceDelta"), p.paceDelta);
    putJsonDouble(o, QStringLiteral("projectedEnd"), p.projectedEnd);
    putJsonDouble(o, QStringLiteral("remainingDailyAllowance"), p.remainingDailyAllowance);
    putJsonDouble(o, QStringLiteral("daysRemaining"), p.daysRemaining);
    o.insert(QStringLiteral("summary"), p.summary);
    return o;
}

QJsonObject claudeCurrentJson(const ClaudeEstimator::CurrentSettings& c)
{
    QJsonObject o;
    if (c.modelId)
        o.insert(QStringLiteral("modelId"), *c.modelId);
    if (c.modelDisplayName)
        o.insert(QStringLiteral("modelDisplayName"), *c.modelDisplayName);
    if (c.effortLevel)
        o.insert(QStringLiteral("effortLevel"), *c.effortLevel);
    if (c.thinkingEnabled)
        o.insert(QStringLiteral("thinkingEnabled"), *c.thinkingEnabled);
    putJsonDate(o, QStringLiteral("capturedAt"), c.capturedAt);
    return o;
}

QJsonObject calibratedJson(const CalibratedProjection& p)
{
    QJsonObject o;
    putJsonDouble(o, QStringLiteral("projectedUsedAtReset"), p.projectedUsedAtReset);
    putJsonDouble(o, QStringLiteral("avgDailyTokens"), p.avgDailyTokens);
    o.insert(QStringLiteral("tokensThisWindow"), p.tokensThisWindow);
    putJsonDouble(o, QStringLiteral("daysRemaining"), p.daysRemaining);
    putJsonDouble(o, QStringLiteral("dailyBurnPercent"), p.dailyBurnPercent);
    putJsonDouble(o, QStringLiteral("daysOfHeadroom"), p.daysOfHeadroom);
    o.insert(QStringLiteral("activeDays"), p.activeDays);
    return o;
}

QJsonObject scenarioJson(const ScenarioResult& r)
{
    QJsonObject o;
    o.insert(QStringLiteral("title"), r.title);
    o.insert(QStringLiteral("description"), r.description);
    putJsonDouble(o, QStringLiteral("projectedUsedAtReset"), r.projectedUsedAtReset);
    putJsonDouble(o, QStringLiteral("estimatedSavingPercent"), r.estimatedSavingPercent);
    putJsonDate(o, QStringLiteral("runOutAt"), r.runOutAt);
    o.insert(QStringLiteral("confidence"), rawValue(r.confidence));
    o.insert(QStringLiteral("assumptions"), QJsonArray::fromStringList(r.assumptions));
    return o;
}

// One text per enabled provider, in display order, where `text` gives one.
QJsonObject byProvider(const Report& report, const std::function<std::optional<QString>(Provider)>& text)
{
    QJsonObject o;
    for (Provider provider : report.providers)
        if (const auto value = text(provider))
            o.insert(rawValue(provider), *value);
    return o;
}

QJsonObject spendJson(const Report& report)
{
    QJsonObject o;
    for (const ProviderUsage& usage : report.usage)
        o.insert(rawValue(usage.provider), usage.spendThisWeek);
    o.insert(QStringLiteral("total"), report.spendThisWeekTotal);
    return o;
}

// Provider display order, then window display order.
QList<ForecastResult> orderedForecasts(const ForecastBundle& bundle)
{
    QList<ForecastResult> list = bundle.forecasts.values();
    std::stable_sort(list.begin(), list.end(), [](const ForecastResult& a, const ForecastResult& b) {
        if (a.provider != b.provider)
            return a.provider < b.provider;
        if (displayRank(a.windowKind) != displayRank(b.windowKind))
            return displayRank(a.windowKind) < displayRank(b.windowKind);
        return a.windowKind < b.windowKind;
    });
    return list;
}

QJsonObject reportJson(const Report& report)
{
    QJsonObject root;
    root.insert(QStringLiteral("title"), report.title);
    root.insert(QStringLiteral("globalStatus"), rawValue(report.globalStatus));
    root.insert(QStringLiteral("mode"),
                report.settings.demoMode ? QStringLiteral("demo") : QStringLiteral("live"));
    root.insert(QStringLiteral("generatedAt"), JsonLines::formatDate(report.now));
    QJsonArray forecasts;
    for (const ForecastResult& f : orderedForecasts(report.bundle))
        forecasts.append(forecastJson(f));
    // Another account's windows follow the default ones, each named; the list of accounts appears only when
    // there is more than one.
    QJsonArray accounts;
    for (const AccountForecasts& account : report.bundle.accounts) {
        for (const ForecastResult& f : account.forecasts) {
            QJsonObject o = forecastJson(f);
            o.insert(QStringLiteral("account"), account.key);
            o.insert(QStringLiteral("accountLabel"), account.label);
            forecasts.append(o);
        }
        QJsonObject entry{{QStringLiteral("provider"), rawValue(account.provider)},
                          {QStringLiteral("key"), account.key},
                          {QStringLiteral("label"), account.label},
                          {QStringLiteral("default"), account.isDefault},
                          {QStringLiteral("health"), report.accountHealth.value(account.key)}};
        if (!account.folder.isEmpty())
            entry.insert(QStringLiteral("folder"), account.folder);
        accounts.append(entry);
    }
    root.insert(QStringLiteral("forecasts"), forecasts);
    if (!accounts.isEmpty())
        root.insert(QStringLiteral("accounts"), accounts);
    // The other machines, only when there are any.
    QJsonArray machines;
    for (qsizetype i = 0; i < report.bundle.machines.size(); ++i) {
        const MachineReport& m = report.bundle.machines[i];
        QJsonObject entry{
            {QStringLiteral("label"), m.machine.name()},
            {QStringLiteral("destination"), m.machine.destination},
            {QStringLiteral("enabled"), m.machine.enabled},
            {QStringLiteral("health"), report.machineHealth.value(i).mid(m.machine.name().size() + 2)},
            {QStringLiteral("ok"),
             m.state.problem == MachineMirror::State::Problem::none && m.state.lastSuccess.has_value()},
            {QStringLiteral("tokensLast7Days"), m.tokensThisWeek},
            {QStringLiteral("costUSDLast7Days"), m.costThisWeekUSD}};
        putJsonDate(entry, QStringLiteral("lastSuccess"), m.state.lastSuccess);
        machines.append(entry);
    }
    if (!machines.isEmpty())
        root.insert(QStringLiteral("machines"), machines);
    QJsonObject paces;
    for (auto it = report.bundle.paces.cbegin(); it != report.bundle.paces.cend(); ++it)
        paces.insert(rawValue(it.key()), paceJson(it.value()));
    root.insert(QStringLiteral("paces"), paces);
    QJsonArray recommendations;
    for (const Recommendation& r : report.bundle.recommendations) {
        QJsonObject o;
        if (r.provider)
            o.insert(QStringLiteral("provider"), rawValue(*r.provider));
        o.insert(QStringLiteral("status"), rawValue(r.status));
        o.insert(QStringLiteral("message"), r.message);
        recommendations.append(o);
    }
    root.insert(QStringLiteral("recommendations"), recommendations);

    if (report.bundle.claudeCurrent)
        root.insert(QStringLiteral("claudeCurrent"), claudeCurrentJson(*report.bundle.claudeCurrent));
    QJsonObject calibrated;
    for (auto it = report.bundle.calibrated.cbegin(); it != report.bundle.calibrated.cend(); ++it)
        calibrated.insert(rawValue(it.key()), calibratedJson(it.value()));
    root.insert(QStringLiteral("calibrated"), calibrated);
    root.insert(QStringLiteral("headroom"),
                byProvider(report, [&](Provider p) { return report.cards.value(p).headroom; }));
    root.insert(QStringLiteral("freshness"),
                byProvider(report, [&](Provider p) { return report.cards.value(p).freshness; }));
    root.insert(QStringLiteral("spendThisWeek"), spendJson(report));
    if (report.peakWindow)
        root.insert(QStringLiteral("peakHours"), *report.peakWindow);
    QJsonObject scenarios{{QStringLiteral("provider"), rawValue(report.focused.first)},
                          {QStringLiteral("windowKind"), rawValue(report.focused.second)}};
    QJsonArray items;
    for (const ScenarioResult& r : report.scenariosOf(report.focused.first, report.focused.second))
        items.append(scenarioJson(r));
    scenarios.insert(QStringLiteral("items"), items);
    root.insert(QStringLiteral("scenarios"), scenarios);
    return root;
}

// waybar reads text and tooltip as Pango markup: "<1m" would blank the module.
QString escapedMarkup(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

QByteArray render(const Report& report, Format format, bool watching)
{
    switch (format) {
    case Format::json:
        return renderJson(report, !watching);
    case Format::waybar:
        return renderWaybar(report);
    case Format::text:
        break;
    }
    return renderText(report).toUtf8();
}

// A figure as a reader sees it: percentages and counts whole, ratios in hundredths, days in tenths, instants
// to the minute. Countdowns in seconds are left out: resetAt and runOutAt say the same as fixed instants.
QJsonValue shownFigures(const QString& key, const QJsonValue& value)
{
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            *it = shownFigures(it.key(), *it);
        object.remove(QStringLiteral("timeUntilReset"));
        object.remove(QStringLiteral("estimatedTimeToLimit"));
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto it = array.begin(); it != array.end(); ++it)
            *it = shownFigures(key, *it);
        return array;
    }
    if (value.isDouble()) {
        const double step = key == QLatin1String("elapsedRatio")    ? 0.01
                            : key.startsWith(QLatin1String("days")) ? 0.1
                                                                    : 1.0;
        return NumberFormatting::rounded(value.toDouble() / step) * step;
    }
    if (key == QLatin1String("resetAt") || key == QLatin1String("runOutAt"))
        return value.toString().left(16);
    return value;
}

// What a watcher compares: the output as a reader sees it, without what moves with the clock alone.
QByteArray changeKey(const Report& report, Format format)
{
    if (format != Format::json)
        return render(report, format, true);
    QJsonObject root = reportJson(report);
    root.remove(QStringLiteral("generatedAt"));
    return QJsonDocument(shownFigures({}, root).toObject()).toJson(QJsonDocument::Compact);
}

// False when the line could not be written (its reader is gone).
bool print(const QByteArray& raw)
{
    // Model and limit names come from Claude Code and the servers by way of the log.
    const QByteArray bytes = TerminalText::clean(QString::fromUtf8(raw), true).toUtf8();
    bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
    if (!bytes.endsWith('\n'))
        written = std::fputc('\n', stdout) != EOF && written;
    return std::fflush(stdout) == 0 && written && !std::ferror(stdout);
}

} // namespace

std::variant<Options, QString> parse(const QStringList& arguments)
{
    Options options;
    bool json = false;
    bool waybar = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        if (argument == QLatin1String("--json")) {
            json = true;
        } else if (argument == QLatin1String("--waybar")) {
            waybar = true;
        } else if (argument == QLatin1String("--watch")) {
            options.watch = true;
        } else if (argument == QLatin1String("--demo")) {
            options.demo = true;
        } else if (argument == QLatin1String("--at")) {
            const auto text = value();
            if (!text)
                return QStringLiteral("--at needs an ISO 8601 date-time, e.g. 2026-05-12T14:00:00Z");
            options.at = parseInstant(*text);
            if (!options.at)
                return QStringLiteral("--at: '%1' is not an ISO 8601 date-time (e.g. 2026-05-12T14:00:00Z)")
                    .arg(*text);
        } else if (argument == QLatin1String("--mode")) {
            const auto text = value();
            if (!text)
                return QStringLiteral("--mode needs a display mode: ") + allRawValues(allMenuBarDisplayModes);
            options.mode = fromRawValue<MenuBarDisplayMode>(*text);
            if (!options.mode)
                return QStringLiteral("--mode: unknown display mode '%1' (one of: %2)")
                    .arg(*text, allRawValues(allMenuBarDisplayModes));
        } else if (argument == QLatin1String("--basis")) {
            const auto text = value();
            if (!text)
                return QStringLiteral("--basis needs a forecast basis: ") + allRawValues(allForecastBases);
            options.basis = fromRawValue<ForecastBasis>(*text);
            if (!options.basis)
                return QStringLiteral("--basis: unknown forecast basis '%1' (one of: %2)")
                    .arg(*text, allRawValues(allForecastBases));
        } else {
            return QStringLiteral("status: ") +
                   CommandLineOptions::unknownOption(argument, {CommandLineOptions::Group::status});
        }
    }
    if (json && waybar)
        return QStringLiteral("status: --json and --waybar cannot be combined");
    if (options.watch && !json && !waybar)
        return QStringLiteral("status: --watch needs --json or --waybar");
    options.format = json ? Format::json : waybar ? Format::waybar : Format::text;
    return options;
}

AppSettings readSettings()
{
    return SettingsStore::peek(LocalFileStore::settingsPath());
}

Report evaluate(const Options& options, const QDateTime& now)
{
    Sources sources;
    return evaluate(options, now, sources);
}

Report evaluate(const Options& options, const QDateTime& now, Sources& sources)
{
    std::shared_ptr<SnapshotStore>& store = sources.store;
    AppSettings settings = readSettings();
    if (options.demo)
        settings.demoMode = true;
    if (options.mode)
        settings.menuBarDisplayMode = *options.mode;
    if (options.basis)
        settings.forecastBasis = *options.basis;

    ComputeCycleRequest request;
    request.settings = settings;
    request.providers = StateQueries::sortedEnabledProviders(settings);
    request.now = now;
    request.ignoreAfter = options.at;
    request.cache = sources.cache;
    request.mirrors = sources.mirrors;
    // The transcripts as the running application sees them, counted while we wait, saved nowhere.
    if (!sources.history) {
        sources.clock = std::make_shared<ManualClock>(now);
        UsageHistory::Options historyOptions = UsageHistory::defaults();
        AccountSettings::addTranscriptRoots(historyOptions);
        historyOptions.clock = sources.clock.get();
        historyOptions.readOnly = true;
        historyOptions.countInline = true;
        sources.history = std::make_shared<UsageHistory>(historyOptions);
        sources.claudeFiles = std::make_shared<ClaudeFiles>(LocalFileStore::baseDirectory(), true);
    }
    sources.clock->set(now);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    if (!sources.lastScanMs || std::abs(nowMs - *sources.lastScanMs) >= 30'000) {
        sources.history->refreshSync();
        sources.lastScanMs = nowMs;
    }
    request.history = sources.history;
    request.claudeFiles = sources.claudeFiles;
    // Only an existing log is read: opening a store must not create the data folder.
    const QString logPath = LocalFileStore::snapshotsPath();
    if (!settings.demoMode && !store && QFileInfo::exists(logPath))
        store = std::make_shared<SnapshotStore>(logPath, SnapshotStore::ReadOnly{});
    if (!settings.demoMode)
        request.store = store;

    PublishInputs inputs;
    inputs.bundle = AppState::compute(request);
    inputs.settings = settings;
    inputs.history = sources.history->totals();
    inputs.lastRefresh = now;
    inputs.now = now;
    return PublishedState::make(std::move(inputs));
}

QStringList reportLines(const Report& report)
{
    QStringList freshness;
    QStringList headroom;
    for (const Provider provider : report.providers) {
        const ProviderCardText card = report.cards.value(provider);
        if (card.freshness)
            freshness.append(displayName(provider) + QLatin1Char(' ') + *card.freshness);
        if (card.headroom)
            headroom.append(displayName(provider) + QLatin1Char(' ') + *card.headroom);
    }
    QStringList spend;
    for (const ProviderUsage& usage : report.usage)
        spend.append(displayName(usage.provider) + QLatin1Char(' ') + usage.spendThisWeek);
    QStringList lines;
    const QString separator = QStringLiteral(" \u00b7 ");
    if (!freshness.isEmpty())
        lines.append(QStringLiteral("Freshness: ") + freshness.join(separator));
    if (!headroom.isEmpty())
        lines.append(QStringLiteral("Headroom: ") + headroom.join(separator));
    if (!spend.isEmpty())
        lines.append(QStringLiteral("Spend this week: ") + spend.join(separator) + separator +
                     QStringLiteral("total ") + report.spendThisWeekTotal);
    for (const QString& health : report.machineHealth)
        lines.append(QStringLiteral("Machine ") + health);
    if (!report.machineUsage.isEmpty())
        lines.append(QStringLiteral("Last 7 days by machine: ") + report.machineUsage.join(separator));
    return lines;
}

QStringList forecastLines(const Report& report)
{
    // The card rows as the panel and `top` word them: shown figure, reset, status, outlook; nothing twice.
    QStringList lines;
    for (const ProviderCardText& card : report.cardsInOrder()) {
        for (const CardRow& row : card.rows) {
            QStringList parts{row.text.percent};
            if (!row.text.reset.isEmpty())
                parts.append(row.text.reset);
            if (row.forecast)
                parts.append(label(row.forecast->status) + QStringLiteral(", ") +
                             rawValue(row.forecast->confidence) + QStringLiteral(" confidence"));
            if (row.outlook)
                parts.append(row.outlook->plain());
            lines.append(card.title + QLatin1Char(' ') + row.text.label + QStringLiteral(": ") +
                         parts.join(QStringLiteral(" · ")));
        }
    }
    return lines;
}

QString renderText(const Report& report)
{
    QStringList lines;
    lines.append(QStringLiteral("Title: ") +
                 (report.title.isEmpty() ? QStringLiteral("(icon only)") : report.title));
    lines.append(QStringLiteral("Status: ") + label(report.globalStatus));
    lines.append(forecastLines(report));
    if (report.firstRunHint)
        lines.append(*report.firstRunHint);
    for (const Recommendation& r : report.bundle.recommendations)
        lines.append(QStringLiteral("Recommendation: ") + r.message);
    lines.append(reportLines(report));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray renderJson(const Report& report, bool indented)
{
    return QJsonDocument(reportJson(report))
        .toJson(indented ? QJsonDocument::Indented : QJsonDocument::Compact);
}

QByteArray renderWaybar(const Report& report)
{
    const ForecastStatus status = report.globalStatus;
    QJsonObject root;
    root.insert(QStringLiteral("text"), escapedMarkup(report.textTitle));
    root.insert(QStringLiteral("tooltip"), escapedMarkup(forecastLines(report).join(QLatin1Char('\n'))));
    root.insert(QStringLiteral("class"), rawValue(status));
    root.insert(QStringLiteral("alt"), label(status));
    if (report.leadingFigure)
        root.insert(QStringLiteral("percentage"), *report.leadingFigure);
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

Watch::Watch(Format format, qint64 heartbeatMs) : m_format(format), m_heartbeatMs(heartbeatMs) {}

std::optional<QByteArray> Watch::poll(const Report& report, qint64 monotonicMs)
{
    QByteArray key = changeKey(report, m_format);
    if (m_lastPrintedMs && key == m_lastKey && monotonicMs - *m_lastPrintedMs < m_heartbeatMs)
        return std::nullopt;
    m_lastKey = std::move(key);
    m_lastPrintedMs = monotonicMs;
    // Outside JSON the key is the output itself.
    return m_format == Format::json ? render(report, m_format, true) : m_lastKey;
}

int run(const Options& options)
{
    const auto currentInstant = [&options] { return options.at.value_or(QDateTime::currentDateTimeUtc()); };
    if (!options.watch) {
        QByteArray output = render(evaluate(options, currentInstant()), options.format, false);
        // JSON is UTF-8 whatever the locale; the text report follows the terminal's.
        if (options.format == Format::text && Terminal::localeGlyphs() == Glyphs::ascii)
            output = TopLayout::ascii(QString::fromUtf8(output)).toUtf8();
        print(output);
        return 0;
    }

    // Watching: re-evaluate every two seconds on one store (the log is re-read only when it changed). A
    // reader that went away (`head`, a restarted waybar) ends the watch quietly: a write fails with EPIPE
    // rather than killing us, and a pipe's hang-up is seen between the writes.
    std::signal(SIGPIPE, SIG_IGN);
    Sources sources;
    sources.cache = std::make_shared<SeriesCache>();
    Watch watch(options.format);
    QElapsedTimer clock;
    clock.start();
    // False once a line could not be written.
    const auto tick = [&] {
        const auto output = watch.poll(evaluate(options, currentInstant(), sources), clock.elapsed());
        return !output || print(*output);
    };
    if (!tick())
        return 0;
    QTimer poll;
    poll.setInterval(2'000);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!tick()) {
            poll.stop();
            QCoreApplication::exit(0);
        }
    });
    poll.start();
    // The write end of a pipe never reads as readable; its notifier fires only on the reader's hang-up.
    std::optional<QSocketNotifier> hangUp;
    struct stat out = {};
    if (::fstat(STDOUT_FILENO, &out) == 0 && S_ISFIFO(out.st_mode)) {
        hangUp.emplace(STDOUT_FILENO, QSocketNotifier::Read);
        const auto readerGone = [&] {
            pollfd fd{STDOUT_FILENO, 0, 0};
            if (::poll(&fd, 1, 0) == 1 && (fd.revents & (POLLERR | POLLHUP)))
                QCoreApplication::exit(0);
            else
                hangUp->setEnabled(false); // a pipe opened for both ends: leave it to the writes
        };
        QObject::connect(&*hangUp, &QSocketNotifier::activated, readerGone);
    }
    return QCoreApplication::exec();
}

} // namespace StatusCommand
