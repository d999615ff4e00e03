#include "core/model/AppSettings.h"
#include "core/text/Zone.h"

#include "core/text/JsonLines.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>

namespace {

// 2001-01-01T00:00:00Z, the epoch the settings file counts its dates from.
constexpr qint64 referenceDateMs = 978'307'200'000;
// About 3,000 years either way, where milliseconds still survive a round trip through a double; beyond it a
// date is treated as unreadable rather than overflowing.
constexpr double referenceSecondsLimit = 1e11;

// A non-finite number could not be written back, so it counts as unreadable.
std::optional<double> jsonDouble(const QJsonValue& value)
{
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return std::nullopt;
    return value.toDouble();
}

std::optional<bool> jsonBool(const QJsonValue& value)
{
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

template <typename E> std::optional<E> jsonEnum(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    return fromRawValue<E>(value.toString());
}

std::optional<QDateTime> jsonReferenceDate(const QJsonValue& value)
{
    const std::optional<double> seconds = jsonDouble(value);
    if (!seconds || std::fabs(*seconds) > referenceSecondsLimit)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(referenceDateMs + std::llround(*seconds * 1000.0), Zone::utc());
}

double referenceSeconds(const QDateTime& date)
{
    return double(date.toMSecsSinceEpoch() - referenceDateMs) / 1000.0;
}

std::optional<QSet<Provider>> jsonProviders(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QSet<Provider> providers;
    for (const QJsonValue& element : value.toArray()) {
        const std::optional<Provider> provider = jsonEnum<Provider>(element);
        if (!provider)
            return std::nullopt; // one unknown provider fails the whole set
        providers.insert(*provider);
    }
    return providers;
}

template <typename T> void take(T& field, const std::optional<T>& decoded)
{
    if (decoded)
        field = *decoded;
}

} // namespace

QString rawValue(MenuBarDisplayMode mode)
{
    switch (mode) {
    case MenuBarDisplayMode::iconOnly:
        return QStringLiteral("iconOnly");
    case MenuBarDisplayMode::autoMode:
        return QStringLiteral("auto");
    case MenuBarDisplayMode::compact:
        return QStringLiteral("compact");
    case MenuBarDisplayMode::forecast:
        return QStringLiteral("forecast");
    case MenuBarDisplayMode::providerFocus:
        return QStringLiteral("providerFocus");
    case MenuBarDisplayMode::minimal:
        return QStringLiteral("minimal");
    }
    return {};
}

template <> std::optional<MenuBarDisplayMode> fromRawValue<MenuBarDisplayMode>(QStringView raw)
{
    for (MenuBarDisplayMode mode : allMenuBarDisplayModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

QString label(MenuBarDisplayMode mode)
{
    switch (mode) {
    case MenuBarDisplayMode::iconOnly:
        return QStringLiteral("Icon only");
    case MenuBarDisplayMode::autoMode:
        return QStringLiteral("Auto");
    case MenuBarDisplayMode::compact:
        return QStringLiteral("Both providers");
    case MenuBarDisplayMode::forecast:
        return QStringLiteral("Status word");
    case MenuBarDisplayMode::providerFocus:
        return QStringLiteral("Focused provider");
    case MenuBarDisplayMode::minimal:
        return QStringLiteral("Minimal numbers");
    }
    return {};
}

QString helpText(MenuBarDisplayMode mode)
{
    switch (mode) {
    case MenuBarDisplayMode::iconOnly:
        return QStringLiteral("Just the gauge icon, no text. Narrowest.");
    case MenuBarDisplayMode::autoMode:
        return QStringLiteral("Percentages when healthy, switches to a status word when at risk.");
    case MenuBarDisplayMode::compact:
        return QStringLiteral("Each provider\u2019s 5h figure, labelled \u2014 e.g. C 28% \u00b7 Cl 42% (C = "
                              "Codex, Cl = Claude).");
    case MenuBarDisplayMode::forecast:
        return QStringLiteral(
            "A status word for the worst provider: Safe / Watch / Risky, or \u201c1h left\u201d.");
    case MenuBarDisplayMode::providerFocus:
        return QStringLiteral("One provider\u2019s 5h then weekly \u2014 e.g. Codex 28% \u00b7 7d 61%.");
    case MenuBarDisplayMode::minimal:
        return QStringLiteral("Narrowest with numbers: each provider\u2019s 5h figure, slash-separated and "
                              "unlabelled \u2014 e.g. 28/42 = Codex 28%, Claude 42%. (Left or used follows "
                              "\u201cShow remaining\u201d.)");
    }
    return {};
}

QJsonObject NotificationThresholds::toJson() const
{
    return QJsonObject{
        {QStringLiteral("fiveHourUsageAbove"), fiveHourUsageAbove},
        {QStringLiteral("fiveHourForecastAbove"), fiveHourForecastAbove},
        {QStringLiteral("timeToLimitUnderMinutes"), timeToLimitUnderMinutes},
        {QStringLiteral("weeklyProjectedAbove"), weeklyProjectedAbove},
        {QStringLiteral("weeklyPaceAbovePoints"), weeklyPaceAbovePoints},
    };
}

std::optional<NotificationThresholds> NotificationThresholds::fromJson(const QJsonObject& object)
{
    const auto fiveHourUsage = jsonDouble(object.value(QStringLiteral("fiveHourUsageAbove")));
    const auto fiveHourForecast = jsonDouble(object.value(QStringLiteral("fiveHourForecastAbove")));
    const auto timeToLimit = jsonDouble(object.value(QStringLiteral("timeToLimitUnderMinutes")));
    const auto weeklyProjected = jsonDouble(object.value(QStringLiteral("weeklyProjectedAbove")));
    const auto weeklyPace = jsonDouble(object.value(QStringLiteral("weeklyPaceAbovePoints")));
    if (!fiveHourUsage || !fiveHourForecast || !timeToLimit || !weeklyProjected || !weeklyPace)
        return std::nullopt;
    return NotificationThresholds{*fiveHourUsage, *fiveHourForecast, *timeToLimit, *weeklyProjected,
                                  *weeklyPace};
}

QJsonObject AppSettings::toJson() const
{
    QJsonArray providers;
    for (Provider provider : allProviders) {
        if (enabledProviders.contains(provider))
            providers.append(rawValue(provider));
    }
    QJsonObject json{
        {QStringLiteral("enabledProviders"), providers},
        {QStringLiteral("forecastBasis"), rawValue(forecastBasis)},
        {QStringLiteral("menuBarDisplayMode"), rawValue(menuBarDisplayMode)},
        {QStringLiteral("weeklyDailyTargetPercent"), weeklyDailyTargetPercent},
        {QStringLiteral("notificationsEnabled"), notificationsEnabled},
        {QStringLiteral("notificationThresholds"), notificationThresholds.toJson()},
        {QStringLiteral("notificationCooldownMinutes"), notificationCooldownMinutes},
        {QStringLiteral("extraUsageBudgetGBP"), extraUsageBudgetGBP},
        {QStringLiteral("startAtLogin"), startAtLogin},
        {QStringLiteral("retentionDays"), retentionDays},
        {QStringLiteral("demoMode"), demoMode},
        {QStringLiteral("hasOnboarded"), hasOnboarded},
        {QStringLiteral("welcomeOpened"), welcomeOpened},
        {QStringLiteral("sleep"), sleep.toJson()},
        {QStringLiteral("showRemaining"), showRemaining},
        {QStringLiteral("currencyGBP"), currencyGBP},
        {QStringLiteral("focusedProvider"), rawValue(focusedProvider)},
        {QStringLiteral("trayProvider"), rawValue(trayProvider)},
        {QStringLiteral("focusedWindow"), rawValue(focusedWindow)},
        {QStringLiteral("focusAuto"), focusAuto},
        {QStringLiteral("statusLineForecast"), statusLineForecast},
        {QStringLiteral("showNoTrayNotice"), showNoTrayNotice},
    };
    if (notificationsSnoozedUntil && notificationsSnoozedUntil->isValid())
        json.insert(QStringLiteral("notificationsSnoozedUntil"),
                    referenceSeconds(*notificationsSnoozedUntil));
    return json;
}

AppSettings AppSettings::fromJson(const QJsonObject& object)
{
    const auto field = [&object](const char* key) { return object.value(QLatin1StringView(key)); };
    AppSettings settings;
    take(settings.enabledProviders, jsonProviders(field("enabledProviders")));
    take(settings.forecastBasis, jsonEnum<ForecastBasis>(field("forecastBasis")));
    take(settings.menuBarDisplayMode, jsonEnum<MenuBarDisplayMode>(field("menuBarDisplayMode")));
    take(settings.weeklyDailyTargetPercent, jsonDouble(field("weeklyDailyTargetPercent")));
    take(settings.notificationsEnabled, jsonBool(field("notificationsEnabled")));
    const QJsonValue thresholds = field("notificationThresholds");
    if (thresholds.isObject())
        take(settings.notificationThresholds, NotificationThresholds::fromJson(thresholds.toObject()));
    take(settings.notificationCooldownMinutes, jsonDouble(field("notificationCooldownMinutes")));
    if (const auto snoozed = jsonReferenceDate(field("notificationsSnoozedUntil")))
        settings.notificationsSnoozedUntil = snoozed;
    take(settings.extraUsageBudgetGBP, jsonDouble(field("extraUsageBudgetGBP")));
    take(settings.startAtLogin, jsonBool(field("startAtLogin")));
    take(settings.retentionDays, JsonLines::integer(field("retentionDays")));
    take(settings.demoMode, jsonBool(field("demoMode")));
    take(settings.hasOnboarded, jsonBool(field("hasOnboarded")));
    take(settings.welcomeOpened, jsonBool(field("welcomeOpened")));
    const QJsonValue sleep = field("sleep");
    if (sleep.isObject())
        take(settings.sleep, SleepSchedule::fromJson(sleep.toObject()));
    take(settings.showRemaining, jsonBool(field("showRemaining")));
    take(settings.currencyGBP, jsonBool(field("currencyGBP")));
    take(settings.focusedProvider, jsonEnum<Provider>(field("focusedProvider")));
    settings.trayProvider = settings.focusedProvider;
    take(settings.trayProvider, jsonEnum<Provider>(field("trayProvider")));
    take(settings.focusedWindow, jsonEnum<WindowKind>(field("focusedWindow")));
    take(settings.focusAuto, jsonBool(field("focusAuto")));
    take(settings.showNoTrayNotice, jsonBool(field("showNoTrayNotice")));
    take(settings.statusLineForecast, jsonBool(field("statusLineForecast")));
    return settings;
}
