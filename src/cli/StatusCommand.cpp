#include "cli/StatusCommand.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/SeriesCache.h"
#include "app/StateQueries.h"
#include "core/JsonLines.h"
#include "core/LocalFileStore.h"
#include "core/NumberFormatting.h"
#include "core/SettingsStore.h"
#include "core/SnapshotStore.h"
#include "core/TimeFormatting.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

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
    if (!text.contains(QLatin1Char('T')) && !text.contains(QLatin1Char('t')))
        return std::nullopt;
    if (auto date = JsonLines::parseDate(text))
        return date;
    // Without an offset the instant is local time, as ISO 8601 reads it.
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

QJsonObject forecastJson(const ForecastResult& f)
{
    QJsonObject o;
    o.insert(QStringLiteral("id"), f.id());
    o.insert(QStringLiteral("provider"), rawValue(f.provider));
    o.insert(QStringLiteral("windowKind"), rawValue(f.windowKind));
    o.insert(QStringLiteral("basis"), rawValue(f.basis));
    putJsonDouble(o, QStringLiteral("currentUsedPercent"), f.currentUsedPercent);
    putJsonDouble(o, QStringLiteral("currentRemainingPercent"), f.currentRemainingPercent);
    putJsonDate(o, QStringLiteral("resetAt"), f.resetAt);
    putJsonDouble(o, QStringLiteral("timeUntilReset"), f.timeUntilReset);
    putJsonDouble(o, QStringLiteral("burnRatePercentPerHour"), f.burnRatePercentPerHour);
    putJsonDouble(o, QStringLiteral("projectedUsedAtReset"), f.projectedUsedAtReset);
    putJsonDouble(o, QStringLiteral("projectedRemainingAtReset"), f.projectedRemainingAtReset);
    putJsonDouble(o, QStringLiteral("estimatedTimeToLimit"), f.estimatedTimeToLimit);
    o.insert(QStringLiteral("limitBeforeReset"), f.limitBeforeReset);
    putJsonDate(o, QStringLiteral("runOutAt"), f.runOutAt);
    o.insert(QStringLiteral("confidence"), rawValue(f.confidence));
    o.insert(QStringLiteral("status"), rawValue(f.status));
    o.insert(QStringLiteral("humanSummary"), f.humanSummary);
    o.insert(QStringLiteral("sampleCount"), f.sampleCount);
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

QString limitPhrase(const ForecastResult& f, const QDateTime& now)
{
    if (f.estimatedTimeToLimit)
        return QStringLiteral("limit in ") + TimeFormatting::countdown(f.estimatedTimeToLimit);
    if (f.runOutAt)
        return QStringLiteral("runs out in ") +
               TimeFormatting::countdown(double(now.msecsTo(*f.runOutAt)) / 1000);
    return QStringLiteral("no limit before reset");
}

QString titleFor(const Report& report, bool compactWhenIconOnly)
{
    AppSettings settings = report.settings;
    if (compactWhenIconOnly && settings.menuBarDisplayMode == MenuBarDisplayMode::iconOnly)
        settings.menuBarDisplayMode = MenuBarDisplayMode::compact;
    return MenuBarTitleBuilder::title(report.bundle.forecasts, settings);
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

void print(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    if (!bytes.endsWith('\n'))
        std::fputc('\n', stdout);
    std::fflush(stdout);
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
            return QStringLiteral("status: unknown option '%1'").arg(argument);
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
    std::shared_ptr<SnapshotStore> store;
    return evaluate(options, now, store, std::shared_ptr<SeriesCache>());
}

Report evaluate(const Options& options, const QDateTime& now, std::shared_ptr<SnapshotStore>& store,
                const std::shared_ptr<SeriesCache>& cache)
{
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
    request.cache = cache;
    // Only an existing log is read: opening a store must not create the data folder.
    const QString logPath = LocalFileStore::snapshotsPath();
    if (!settings.demoMode && !store && QFileInfo::exists(logPath))
        store = std::make_shared<SnapshotStore>(logPath, SnapshotStore::ReadOnly{});
    if (!settings.demoMode)
        request.store = store;

    Report report{AppState::compute(request), settings, now};
    // The focus the application would take, so the focused-provider title matches the tray's.
    if (settings.focusAuto) {
        if (const auto urgent =
                StateQueries::mostUrgentSeries(report.bundle.snapshots, report.bundle.forecasts, now)) {
            report.settings.focusedProvider = urgent->first;
            report.settings.focusedWindow = urgent->second;
        }
    }
    return report;
}

QStringList forecastLines(const Report& report)
{
    QStringList lines;
    for (const ForecastResult& f : orderedForecasts(report.bundle)) {
        const QStringList parts{
            displayName(f.provider) + QLatin1Char(' ') + shortLabel(f.windowKind),
            NumberFormatting::percent(f.currentUsedPercent) + QStringLiteral(" used"),
            NumberFormatting::percent(f.projectedUsedAtReset) + QStringLiteral(" at reset"),
            limitPhrase(f, report.generatedAt),
            label(f.status),
            rawValue(f.confidence) + QStringLiteral(" confidence"),
            f.humanSummary,
        };
        lines.append(parts.join(QStringLiteral(" · ")));
    }
    return lines;
}

QString renderText(const Report& report)
{
    const QString title = titleFor(report, false);
    QStringList lines;
    lines.append(QStringLiteral("Title: ") + (title.isEmpty() ? QStringLiteral("(icon only)") : title));
    lines.append(QStringLiteral("Status: ") + label(StateQueries::globalStatus(report.bundle.forecasts)));
    lines.append(forecastLines(report));
    for (const Recommendation& r : report.bundle.recommendations)
        lines.append(QStringLiteral("Recommendation: ") + r.message);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QByteArray renderJson(const Report& report, bool indented)
{
    QJsonObject root;
    root.insert(QStringLiteral("title"), titleFor(report, false));
    root.insert(QStringLiteral("globalStatus"),
                rawValue(StateQueries::globalStatus(report.bundle.forecasts)));
    root.insert(QStringLiteral("mode"),
                report.settings.demoMode ? QStringLiteral("demo") : QStringLiteral("live"));
    root.insert(QStringLiteral("generatedAt"), JsonLines::formatDate(report.generatedAt));
    QJsonArray forecasts;
    for (const ForecastResult& f : orderedForecasts(report.bundle))
        forecasts.append(forecastJson(f));
    root.insert(QStringLiteral("forecasts"), forecasts);
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
    return QJsonDocument(root).toJson(indented ? QJsonDocument::Indented : QJsonDocument::Compact);
}

QByteArray renderWaybar(const Report& report)
{
    QJsonObject root;
    root.insert(QStringLiteral("text"), titleFor(report, true));
    root.insert(QStringLiteral("tooltip"), forecastLines(report).join(QLatin1Char('\n')));
    root.insert(QStringLiteral("class"), rawValue(StateQueries::globalStatus(report.bundle.forecasts)));
    std::optional<double> highest;
    for (const ForecastResult& f : std::as_const(report.bundle.forecasts))
        if (f.windowKind == WindowKind::fiveHour && std::isfinite(f.currentUsedPercent))
            highest = std::max(highest.value_or(f.currentUsedPercent), f.currentUsedPercent);
    if (highest)
        root.insert(QStringLiteral("percentage"), qint64(std::round(*highest)));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

int run(const Options& options)
{
    const auto currentInstant = [&options] { return options.at.value_or(QDateTime::currentDateTimeUtc()); };
    if (!options.watch) {
        print(render(evaluate(options, currentInstant()), options.format, false));
        return 0;
    }

    // Watching: re-evaluate every two seconds on one store (the log is re-read only when it changed),
    // print whenever the output differs, and every 30 seconds regardless so a status bar never goes stale.
    std::shared_ptr<SnapshotStore> store;
    const auto cache = std::make_shared<SeriesCache>();
    QByteArray last;
    QTimer heartbeat;
    heartbeat.setInterval(30'000);
    const auto tick = [&](bool force) {
        const QByteArray output =
            render(evaluate(options, currentInstant(), store, cache), options.format, true);
        if (force || output != last) {
            print(output);
            last = output;
            heartbeat.start();
        }
    };
    QTimer poll;
    poll.setInterval(2'000);
    QObject::connect(&poll, &QTimer::timeout, [&] { tick(false); });
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { tick(true); });
    tick(true);
    poll.start();
    return QCoreApplication::exec();
}

} // namespace StatusCommand
