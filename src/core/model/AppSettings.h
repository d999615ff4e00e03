#pragma once

#include "core/forecast/SleepSchedule.h"
#include "core/model/Enums.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <array>
#include <optional>

enum class MenuBarDisplayMode
{
    iconOnly,
    autoMode,
    compact,
    forecast,
    providerFocus,
    minimal
};

inline constexpr std::array allMenuBarDisplayModes{
    MenuBarDisplayMode::iconOnly, MenuBarDisplayMode::autoMode,      MenuBarDisplayMode::compact,
    MenuBarDisplayMode::forecast, MenuBarDisplayMode::providerFocus, MenuBarDisplayMode::minimal};

// "iconOnly", "auto", "compact", "forecast", "providerFocus", "minimal".
QString rawValue(MenuBarDisplayMode mode);
template <> std::optional<MenuBarDisplayMode> fromRawValue<MenuBarDisplayMode>(QStringView raw);
QString label(MenuBarDisplayMode mode);
QString helpText(MenuBarDisplayMode mode);

struct NotificationThresholds
{
    double fiveHourUsageAbove = 70;
    double fiveHourForecastAbove = 90;
    double timeToLimitUnderMinutes = 60;
    double weeklyProjectedAbove = 100;
    double weeklyPaceAbovePoints = 10;

    QJsonObject toJson() const;
    // All five keys are required.
    static std::optional<NotificationThresholds> fromJson(const QJsonObject& object);

    friend bool operator==(const NotificationThresholds&, const NotificationThresholds&) = default;
};

// The user's whole configuration as one value.
struct AppSettings
{
    QSet<Provider> enabledProviders{Provider::codex, Provider::claude};
    ForecastBasis forecastBasis = ForecastBasis::last1h;
    MenuBarDisplayMode menuBarDisplayMode = MenuBarDisplayMode::iconOnly;
    double weeklyDailyTargetPercent = 14.3;
    bool notificationsEnabled = false;
    NotificationThresholds notificationThresholds;
    double notificationCooldownMinutes = 30;
    std::optional<QDateTime> notificationsSnoozedUntil;
    double extraUsageBudgetGBP = 0;
    bool startAtLogin = false;
    qint64 retentionDays = 30;
    bool demoMode = false;
    bool hasOnboarded = false;
    // The welcome opened by itself at a start with a tray; from then on a start shows only the icon.
    bool welcomeOpened = false;
    SleepSchedule sleep;
    bool showRemaining = true;
    // Spend in US dollars, the list prices' currency and `tallyvane usage`'s; on: pounds at a fixed rate.
    bool currencyGBP = false;
    Provider focusedProvider = Provider::claude;
    WindowKind focusedWindow = WindowKind::fiveHour;
    // The tray's "Show provider": its own, so that choosing a chart tab or an automatic focus never moves it.
    // Settings written before it existed take the focused provider.
    Provider trayProvider = Provider::claude;
    bool focusAuto = true;
    // Whether Claude Code's status line, through the bridge, shows the forecast summary.
    bool statusLineForecast = true;
    // The notice above the panel's window on a desktop without a tray.
    bool showNoTrayNotice = true;

    // Keys are the field names; the snooze date is seconds since 2001-01-01T00:00:00Z; absent optionals are
    // left out.
    QJsonObject toJson() const;
    // Forgiving: a field that is missing, null, of the wrong type or unknown takes its own default.
    static AppSettings fromJson(const QJsonObject& object);

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};
