#include "core/model/AppSettings.h"
#include "QtPrinters.h"
#include "core/io/SettingsStore.h"
#include "core/text/Zone.h"

#include <gtest/gtest.h>

#include <QJsonArray>

TEST(AppSettings, EachBadFieldFallsBackAloneToItsDefault)
{
    const auto with = [](auto change) {
        AppSettings s;
        change(s);
        return s;
    };
    AppSettings allFive;
    allFive.notificationThresholds = {1, 2, 3, 4, 5};
    const std::pair<const char*, AppSettings> rows[] = {
        {"{}", AppSettings{}},
        {R"({"retentionDays":"45"})", AppSettings{}},
        {R"({"retentionDays":45.5})", AppSettings{}},
        {R"({"retentionDays":45})", with([](AppSettings& s) { s.retentionDays = 45; })},
        {R"({"notificationThresholds":{"fiveHourUsageAbove":1,"fiveHourForecastAbove":2,
            "timeToLimitUnderMinutes":3,"weeklyProjectedAbove":4}})",
         AppSettings{}},
        {R"({"notificationThresholds":{"fiveHourUsageAbove":1,"fiveHourForecastAbove":2,
            "timeToLimitUnderMinutes":3,"weeklyProjectedAbove":4,"weeklyPaceAbovePoints":5}})",
         allFive},
        {R"({"forecastBasis":"last2h","menuBarDisplayMode":"autoMode"})", AppSettings{}},
        {R"({"menuBarDisplayMode":"auto"})",
         with([](AppSettings& s) { s.menuBarDisplayMode = MenuBarDisplayMode::autoMode; })},
        {R"({"sleep":{"enabled":true,"bedtimeMinutes":60}})", AppSettings{}},
        {R"({"enabledProviders":["codex","gemini"]})", AppSettings{}},
        {R"({"enabledProviders":["claude","claude"]})",
         with([](AppSettings& s) { s.enabledProviders = {Provider::claude}; })},
        {R"({"showRemaining":null,"startAtLogin":1,"weeklyDailyTargetPercent":"20"})", AppSettings{}},
        {R"({"notificationsSnoozedUntil":"2026-06-10T14:30:00Z"})", AppSettings{}},
        {R"({"notificationsSnoozedUntil":1e300})", AppSettings{}},
        {R"({"notificationsSnoozedUntil":-86400.5})", with([](AppSettings& s) {
             s.notificationsSnoozedUntil =
                 QDateTime(QDate(2000, 12, 30), QTime(23, 59, 59, 500), Zone::utc());
         })},
        {R"({"retentionDays":"x","focusedWindow":"weekly","focusAuto":"no","unknownKey":[1]})",
         with([](AppSettings& s) { s.focusedWindow = WindowKind::weekly; })},
    };
    for (const auto& [json, expected] : rows)
        EXPECT_EQ(SettingsStore::decode(QByteArray(json)), expected) << json;
}

TEST(AppSettings, EncodingUsesRawStringsAndReferenceDateSeconds)
{
    AppSettings settings;
    settings.enabledProviders = {Provider::claude};
    settings.menuBarDisplayMode = MenuBarDisplayMode::autoMode;
    settings.notificationsSnoozedUntil = QDateTime(QDate(2026, 6, 10), QTime(14, 30, 15, 250), Zone::utc());
    const QJsonObject json = settings.toJson();
    EXPECT_EQ(json.value("menuBarDisplayMode").toString(), "auto");
    EXPECT_EQ(json.value("enabledProviders").toArray(), QJsonArray{"claude"});
    // Seconds since 2001-01-01T00:00:00Z, worked out independently.
    EXPECT_DOUBLE_EQ(json.value("notificationsSnoozedUntil").toDouble(), 802794615.25);

    const QJsonObject defaults = AppSettings{}.toJson();
    EXPECT_EQ(defaults.value("enabledProviders").toArray(), (QJsonArray{"codex", "claude"}));
    EXPECT_FALSE(defaults.contains("notificationsSnoozedUntil"));

    // An older version's file: its bridge bookkeeping goes at the next save, the rest stays.
    const std::optional<AppSettings> older = SettingsStore::decode(
        R"({"claudeBridgeInstalled":true,"previousClaudeStatusLineCommand":"x","retentionDays":45})");
    ASSERT_TRUE(older);
    EXPECT_EQ(older->retentionDays, 45);
    const QJsonObject resaved = older->toJson();
    EXPECT_FALSE(resaved.contains("claudeBridgeInstalled") ||
                 resaved.contains("previousClaudeStatusLineCommand"));
}
