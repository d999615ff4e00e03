#include "cli/UsageCommand.h"

#include "app/AccountSettings.h"
#include "app/MachineMirrors.h"
#include "cli/CommandLineOptions.h"
#include "core/runtime/Clock.h"
#include "core/text/TerminalText.h"
#include "history/Pricing.h"
#include "history/SaturatingMath.h"
#include "history/UsageHistory.h"
#include "history/UsageQueries.h"
#include "history/ZoneCalendar.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTextStream>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace UsageCommand {

namespace {

constexpr int lookbackDays = 16;

const Provider allProviders[] = {Provider::codex, Provider::claude};

std::optional<QDate> parseDay(const QString& text)
{
    const auto day = ZoneCalendar::parseDayKey(text);
    if (!day)
        return std::nullopt;
    return QDate(1970, 1, 1).addDays(*day);
}

using UsageQueries::dayNumber;

QString providerName(Provider provider)
{
    return provider == Provider::codex ? QStringLiteral("Codex") : QStringLiteral("Claude Code");
}

QList<Provider> shown(const Report& report)
{
    if (report.provider)
        return {*report.provider};
    return {std::begin(allProviders), std::end(allProviders)};
}

struct Sum
{
    qint64 tokens = 0;
    qint64 costNanos = 0;
};

Sum sumOf(const UsageTotals::Series& series, const Report& report)
{
    Sum sum;
    const qint64 from = dayNumber(report.since);
    const qint64 to = dayNumber(report.until);
    for (auto it = series.dayTokens.lower_bound(from); it != series.dayTokens.end() && it->first <= to; ++it)
        sum.tokens = SaturatingMath::add(sum.tokens, it->second);
    for (auto it = series.dayCostNanos.lower_bound(from); it != series.dayCostNanos.end() && it->first <= to;
         ++it)
        sum.costNanos = SaturatingMath::add(sum.costNanos, it->second);
    return sum;
}

Sum sumOf(const Report& report, Provider provider)
{
    return sumOf(report.totals.of(provider), report);
}

std::array<qint64, 24> hoursOf(const UsageTotals::Series& series, const Report& report)
{
    std::array<qint64, 24> hours{};
    const auto& byDay = series.dayHourTokens;
    for (auto it = byDay.lower_bound(dayNumber(report.since));
         it != byDay.end() && it->first <= dayNumber(report.until); ++it)
        for (std::size_t h = 0; h < 24; ++h)
            hours[h] = SaturatingMath::add(hours[h], it->second[h]);
    return hours;
}

std::array<qint64, 24> hoursOf(const Report& report, Provider provider)
{
    return hoursOf(report.totals.of(provider), report);
}

// The provider's default accounts' series (no key), then each other account's with its key.
std::vector<std::pair<QString, const UsageTotals::Series*>> seriesOf(const UsageTotals& totals,
                                                                     Provider provider)
{
    std::vector<std::pair<QString, const UsageTotals::Series*>> all{{QString(), &totals.of(provider)}};
    for (const auto& [account, series] : totals.accounts)
        if (account.first == provider)
            all.emplace_back(account.second, &series);
    return all;
}

// Each day's row per provider and account with tokens, of the machines summed or of each machine apart.
template <typename Visit> void forEachDay(const Report& report, bool byMachine, Visit&& visit)
{
    const QList<std::pair<QString, UsageTotals>> parts =
        byMachine ? report.machines : QList<std::pair<QString, UsageTotals>>{{QString(), report.totals}};
    for (qint64 day = dayNumber(report.since); day <= dayNumber(report.until); ++day) {
        for (const Provider p : shown(report)) {
            for (const auto& [machine, totals] : parts) {
                for (const auto& [account, series] : seriesOf(totals, p)) {
                    const auto tokens = series->dayTokens.find(day);
                    if (tokens != series->dayTokens.end() && tokens->second != 0)
                        visit(day, p, machine, account, tokens->second, series->costUSD(day));
                }
            }
        }
    }
}

QString padded(const QString& text, int width, bool right)
{
    return right ? text.rightJustified(width) : text.leftJustified(width);
}

} // namespace

QString grouped(qint64 value)
{
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    QString out;
    const char* first = digits;
    if (*first == '-') {
        out += QLatin1Char('-');
        ++first;
    }
    const auto count = end - first;
    for (auto i = 0; i < count; ++i) {
        if (i > 0 && (count - i) % 3 == 0)
            out += QLatin1Char(',');
        out += QLatin1Char(first[i]);
    }
    return out;
}

QString cents(double usd)
{
    char text[64];
    const auto end =
        std::to_chars(text, text + sizeof text, std::isfinite(usd) ? usd : 0.0, std::chars_format::fixed, 2)
            .ptr;
    return QString::fromLatin1(text, end - text);
}

std::variant<Options, QString> parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        if (arg == QLatin1String("--json")) {
            options.json = true;
        } else if (arg == QLatin1String("--hourly")) {
            options.hourly = true;
        } else if (arg == QLatin1String("--by-machine")) {
            options.byMachine = true;
        } else if (arg == QLatin1String("--since") || arg == QLatin1String("--until")) {
            const auto text = value();
            if (!text)
                return QStringLiteral("%1 needs a date (YYYY-MM-DD)").arg(arg);
            const auto date = parseDay(*text);
            if (!date)
                return QStringLiteral("%1: '%2' is not a date (YYYY-MM-DD)").arg(arg, *text);
            (arg == QLatin1String("--since") ? options.since : options.until) = date;
        } else if (arg == QLatin1String("--provider")) {
            const auto text = value();
            if (text == QLatin1String("codex"))
                options.provider = Provider::codex;
            else if (text == QLatin1String("claude"))
                options.provider = Provider::claude;
            else
                return QStringLiteral("--provider takes codex or claude");
        } else {
            return QStringLiteral("usage: ") +
                   CommandLineOptions::unknownOption(arg, {CommandLineOptions::Group::usage});
        }
    }
    if (options.since && options.until && *options.until < *options.since)
        return QStringLiteral("--until is before --since");
    return options;
}

QString renderText(const Report& report, bool hourly, bool machineParts)
{
    QString out;
    QTextStream s(&out);
    const QList<Provider> providers = shown(report);
    s << "Usage " << report.since.toString(Qt::ISODate) << " to " << report.until.toString(Qt::ISODate)
      << " (" << QString::fromLatin1(report.totals.zone) << "); spend estimated at list prices\n";
    if (hourly) {
        s << padded(QStringLiteral("Hour"), 7, false);
        for (const Provider p : providers)
            s << padded(providerName(p), 16, true);
        s << '\n';
        std::vector<std::array<qint64, 24>> hours;
        for (const Provider p : providers)
            hours.push_back(hoursOf(report, p));
        for (std::size_t h = 0; h < 24; ++h) {
            s << padded(QStringLiteral("%1:00").arg(h, 2, 10, QLatin1Char('0')), 7, false);
            for (const auto& perProvider : hours)
                s << padded(grouped(perProvider[h]), 16, true);
            s << '\n';
        }
        return out;
    }
    // By machine: one column more, and each machine's rows apart.
    const bool byMachine = machineParts && report.machines.size() > 1;
    s << padded(QStringLiteral("Date"), 12, false) << padded(QStringLiteral("Provider"), 13, false);
    if (byMachine)
        s << padded(QStringLiteral("Machine"), 16, false);
    s << padded(QStringLiteral("Tokens"), 18, true) << padded(QStringLiteral("USD"), 12, true) << '\n';
    forEachDay(report, byMachine,
               [&](qint64 day, Provider p, const QString& machine, const QString& account, qint64 tokens,
                   double usd) {
                   // The text keeps to each assistant's default account, as its totals do.
                   if (!account.isEmpty())
                       return;
                   s << padded(ZoneCalendar::dayKey(day), 12, false) << padded(providerName(p), 13, false);
                   if (byMachine)
                       s << padded(machine.left(15), 16, false);
                   s << padded(grouped(tokens), 18, true) << padded(cents(usd), 12, true) << '\n';
               });
    Sum all;
    for (const Provider p : providers) {
        const Sum sum = sumOf(report, p);
        all.tokens = SaturatingMath::add(all.tokens, sum.tokens);
        all.costNanos = SaturatingMath::add(all.costNanos, sum.costNanos);
        s << padded(QStringLiteral("Total"), 12, false) << padded(providerName(p), byMachine ? 29 : 13, false)
          << padded(grouped(sum.tokens), 18, true)
          << padded(cents(Pricing::nanosToUsd(sum.costNanos)), 12, true) << '\n';
    }
    if (providers.size() > 1)
        s << padded(QStringLiteral("Total"), byMachine ? 41 : 25, false)
          << padded(grouped(all.tokens), 18, true)
          << padded(cents(Pricing::nanosToUsd(all.costNanos)), 12, true) << '\n';
    return out;
}

QByteArray renderJson(const Report& report, bool hourly)
{
    QJsonObject root{{"since", report.since.toString(Qt::ISODate)},
                     {"until", report.until.toString(Qt::ISODate)},
                     {"timeZone", QString::fromLatin1(report.totals.zone)}};
    const QList<Provider> providers = shown(report);
    if (hourly) {
        QJsonArray hours;
        for (const Provider p : providers) {
            const auto profile = hoursOf(report, p);
            for (std::size_t h = 0; h < 24; ++h)
                hours.append(QJsonObject{
                    {"hour", static_cast<int>(h)}, {"provider", rawValue(p)}, {"tokens", profile[h]}});
            for (const auto& [account, series] : report.totals.accounts) {
                if (account.first != p)
                    continue;
                const auto other = hoursOf(series, report);
                for (std::size_t h = 0; h < 24; ++h)
                    hours.append(QJsonObject{{"hour", static_cast<int>(h)},
                                             {"provider", rawValue(p)},
                                             {"account", account.second},
                                             {"tokens", other[h]}});
            }
        }
        root.insert(QStringLiteral("hours"), hours);
    } else {
        QJsonArray days;
        const bool byMachine = report.machines.size() > 1;
        forEachDay(report, byMachine,
                   [&](qint64 day, Provider p, const QString& machine, const QString& account, qint64 tokens,
                       double usd) {
                       QJsonObject row{{"date", ZoneCalendar::dayKey(day)}, {"provider", rawValue(p)}};
                       if (!account.isEmpty())
                           row.insert(QStringLiteral("account"), account);
                       if (byMachine)
                           row.insert(QStringLiteral("machine"), machine);
                       row.insert(QStringLiteral("tokens"), tokens);
                       row.insert(QStringLiteral("costUSD"), usd);
                       days.append(row);
                   });
        root.insert(QStringLiteral("days"), days);
    }
    QJsonArray totals;
    Sum all;
    for (const Provider p : providers) {
        for (const auto& [account, series] : seriesOf(report.totals, p)) {
            const Sum sum = sumOf(*series, report);
            all.tokens = SaturatingMath::add(all.tokens, sum.tokens);
            all.costNanos = SaturatingMath::add(all.costNanos, sum.costNanos);
            QJsonObject row{{"provider", rawValue(p)}};
            if (!account.isEmpty())
                row.insert(QStringLiteral("account"), account);
            row.insert(QStringLiteral("tokens"), sum.tokens);
            row.insert(QStringLiteral("costUSD"), Pricing::nanosToUsd(sum.costNanos));
            totals.append(row);
        }
    }
    root.insert(QStringLiteral("totals"), totals);
    root.insert(QStringLiteral("tokens"), all.tokens);
    root.insert(QStringLiteral("costUSD"), Pricing::nanosToUsd(all.costNanos));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

int run(const Options& options)
{
    const QDateTime now = Clock::system().now();
    UsageHistory::Options historyOptions = UsageHistory::defaults();
    AccountSettings::addTranscriptRoots(historyOptions);
    // One scan and done: a watch would serve no later refresh, and taking down its folder watches at exit
    // costs the kernel a grace period (about 20 ms).
    historyOptions.watch.enabled = false;
    UsageHistory history(historyOptions);
    const QTimeZone zone = ZoneCalendar::currentZone();
    Report report;
    report.until = options.until.value_or(now.toTimeZone(zone).date());
    report.since = options.since.value_or(now.addDays(-lookbackDays).toTimeZone(zone).date());
    if (report.since > report.until)
        report.since = report.until;
    report.provider = options.provider;
    report.totals = history.reportSince(dayNumber(report.since));
    // The other machines' usage as last pulled, summed in; each machine apart too.
    MachineMirrors mirrors;
    mirrors.update(now);
    const QList<std::pair<QString, UsageTotals>> others = mirrors.usageByMachine();
    if (!others.isEmpty()) {
        report.machines.append({QSysInfo::machineHostName(), report.totals});
        for (const auto& part : others) {
            report.totals.add(part.second);
            report.machines.append(part);
        }
    }
    if (options.json) {
        const QByteArray json = renderJson(report, options.hourly);
        std::fwrite(json.constData(), 1, static_cast<std::size_t>(json.size()), stdout);
    } else {
        // Model names come from the transcripts.
        const QByteArray text =
            TerminalText::clean(renderText(report, options.hourly, options.byMachine), true).toUtf8();
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace UsageCommand
