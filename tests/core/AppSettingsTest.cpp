#include "core/AppSettings.h"
#include "QtPrinters.h"
#include "core/SettingsStore.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace {

AppSettings decodeText(const char* json)
{
    const std::optional<AppSettings> settings = SettingsStore::decode(QByteArray(json));
    EXPECT_TRUE(settings.has_value()) << json;
    return settings.value_or(AppSettings{});
}

// Every field away from its default, so a field the coder drops or mixes up shows.
AppSettings everyFieldChanged()
{
    AppSettings s;
    s.enabledProviders = {Provider::claude};
    s.forecastBasis = ForecastBasis::sinceWindowStart;
    s.menuBarDisplayMode = MenuBarDisplayMode::autoMode;
    s.weeklyDailyTargetPercent = 20.5;
    s.notificationsEnabled = true;
    s.notificationThresholds = {71.5, 91, 45, 105, 12.25};
    s.notificationCooldownMinutes = 15;
    s.notificationsSnoozedUntil = QDateTime(QDate(2026, 6, 10), QTime(14, 30, 15, 250), Qt::UTC);
    s.extraUsageBudgetGBP = 25.5;
    s.startAtLogin = true;
    s.retentionDays = 90;
    s.demoMode = true;
    s.hasOnboarded = true;
    s.sleep = SleepSchedule{true, 1320, 390};
    s.showRemaining = false;
    s.currencyGBP = false;
    s.focusedProvider = Provider::codex;
    s.focusedWindow = WindowKind::weekly;
    s.focusAuto = false;
    s.previousClaudeStatusLineCommand = QStringLiteral("bash ~/.claude/statusline.sh \"quoted\" \u00e9");
    s.claudeBridgeInstalled = true;
    return s;
}

} // namespace

TEST(MenuBarDisplayMode, RawValuesLabelsAndHelpTextsInPickerOrder)
{
    struct Row
    {
        MenuBarDisplayMode mode;
        const char* raw;
        const char* label;
        const char* help;
    };
    const Row rows[] = {
        {MenuBarDisplayMode::iconOnly, "iconOnly", "Icon only", "Just the gauge icon, no text. Narrowest."},
        {MenuBarDisplayMode::autoMode, "auto", "Auto",
         "Percentages when healthy, switches to a status word when at risk."},
        {MenuBarDisplayMode::compact, "compact", "Both providers",
         "Each provider’s 5h figure, labelled — e.g. C 28% · Cl 42% (C = Codex, Cl = Claude)."},
        {MenuBarDisplayMode::forecast, "forecast", "Status word",
         "A status word for the worst provider: Safe / Watch / Risky, or “1h left”."},
        {MenuBarDisplayMode::providerFocus, "providerFocus", "Focused provider",
         "One provider’s 5h then weekly — e.g. Codex 28% · 7d 61%."},
        {MenuBarDisplayMode::minimal, "minimal", "Minimal numbers",
         "Narrowest with numbers: each provider’s 5h figure, slash-separated and unlabelled — e.g. 28/42 = "
         "Codex "
         "28%, Claude 42%. (Left or used follows “Show remaining”.)"},
    };
    ASSERT_EQ(std::size(rows), allMenuBarDisplayModes.size());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        EXPECT_EQ(allMenuBarDisplayModes[i], row.mode) << row.raw;
        EXPECT_EQ(rawValue(row.mode), QString::fromUtf8(row.raw));
        EXPECT_EQ(fromRawValue<MenuBarDisplayMode>(QString::fromUtf8(row.raw)), row.mode);
        EXPECT_EQ(label(row.mode), QString::fromUtf8(row.label));
        EXPECT_EQ(helpText(row.mode), QString::fromUtf8(row.help));
    }
    EXPECT_EQ(fromRawValue<MenuBarDisplayMode>(u"autoMode"), std::nullopt);
    EXPECT_EQ(fromRawValue<MenuBarDisplayMode>(u"Auto"), std::nullopt);
}

TEST(AppSettings, DefaultsAreTheDocumentedOnes)
{
    const AppSettings d;
    EXPECT_EQ(d.enabledProviders, (QSet<Provider>{Provider::codex, Provider::claude}));
    EXPECT_EQ(d.forecastBasis, ForecastBasis::last1h);
    EXPECT_EQ(d.menuBarDisplayMode, MenuBarDisplayMode::iconOnly);
    EXPECT_DOUBLE_EQ(d.weeklyDailyTargetPercent, 14.3);
    EXPECT_EQ(d.notificationThresholds, (NotificationThresholds{70, 90, 60, 100, 10}));
    EXPECT_DOUBLE_EQ(d.notificationCooldownMinutes, 30);
    EXPECT_EQ(d.retentionDays, 30);
    EXPECT_EQ(d.sleep, (SleepSchedule{false, 1380, 420}));
    EXPECT_TRUE(d.showRemaining && d.currencyGBP && d.focusAuto);
    EXPECT_FALSE(d.notificationsEnabled || d.startAtLogin || d.demoMode || d.hasOnboarded ||
                 d.claudeBridgeInstalled);
    EXPECT_EQ(d.focusedProvider, Provider::claude);
    EXPECT_EQ(d.focusedWindow, WindowKind::fiveHour);
    EXPECT_FALSE(d.notificationsSnoozedUntil || d.previousClaudeStatusLineCommand);
}

TEST(AppSettings, EachBadFieldFallsBackAloneToItsDefault)
{
    struct Row
    {
        const char* name;
        const char* json;
        AppSettings expected;
    };
    const auto with = [](auto change) {
        AppSettings s;
        change(s);
        return s;
    };
    const Row rows[] = {
        {"empty object", "{}", AppSettings{}},
        {"retentionDays as a string", R"({"retentionDays":"45"})", AppSettings{}},
        {"retentionDays fractional", R"({"retentionDays":45.5})", AppSettings{}},
        {"retentionDays whole", R"({"retentionDays":45})",
         with([](AppSettings& s) { s.retentionDays = 45; })},
        {"thresholds lacking one key", R"({"notificationThresholds":{"fiveHourUsageAbove":1,
           "fiveHourForecastAbove":2,"timeToLimitUnderMinutes":3,"weeklyProjectedAbove":4}})",
         AppSettings{}},
        {"thresholds complete",
         R"({"notificationThresholds":{"fiveHourUsageAbove":1,"fiveHourForecastAbove":2,
           "timeToLimitUnderMinutes":3,"weeklyProjectedAbove":4,"weeklyPaceAbovePoints":5}})",
         with([](AppSettings& s) {
             s.notificationThresholds = {1, 2, 3, 4, 5};
         })},
        {"thresholds not an object", R"({"notificationThresholds":[1,2,3,4,5]})", AppSettings{}},
        {"unknown forecastBasis", R"({"forecastBasis":"last2h"})", AppSettings{}},
        {"unknown menuBarDisplayMode", R"({"menuBarDisplayMode":"autoMode"})", AppSettings{}},
        {"menu bar mode auto", R"({"menuBarDisplayMode":"auto"})",
         with([](AppSettings& s) { s.menuBarDisplayMode = MenuBarDisplayMode::autoMode; })},
        {"sleep lacking wakeMinutes", R"({"sleep":{"enabled":true,"bedtimeMinutes":60}})", AppSettings{}},
        {"sleep complete", R"({"sleep":{"enabled":true,"bedtimeMinutes":60,"wakeMinutes":480}})",
         with([](AppSettings& s) {
             s.sleep = {true, 60, 480};
         })},
        {"one unknown provider fails the set", R"({"enabledProviders":["codex","gemini"]})", AppSettings{}},
        {"providers duplicated, one kept", R"({"enabledProviders":["claude","claude"]})",
         with([](AppSettings& s) { s.enabledProviders = {Provider::claude}; })},
        {"no providers at all", R"({"enabledProviders":[]})",
         with([](AppSettings& s) { s.enabledProviders = {}; })},
        {"null values", R"({"showRemaining":null,"previousClaudeStatusLineCommand":null,"sleep":null})",
         AppSettings{}},
        {"bool as number", R"({"startAtLogin":1,"currencyGBP":0})", AppSettings{}},
        {"double as string", R"({"weeklyDailyTargetPercent":"20"})", AppSettings{}},
        {"snooze as ISO text", R"({"notificationsSnoozedUntil":"2026-06-10T14:30:00Z"})", AppSettings{}},
        {"snooze out of range", R"({"notificationsSnoozedUntil":1e300})", AppSettings{}},
        {"snooze as reference seconds", R"({"notificationsSnoozedUntil":0})", with([](AppSettings& s) {
             s.notificationsSnoozedUntil = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
         })},
        {"snooze before the reference date", R"({"notificationsSnoozedUntil":-86400.5})",
         with([](AppSettings& s) {
             s.notificationsSnoozedUntil = QDateTime(QDate(2000, 12, 30), QTime(23, 59, 59, 500), Qt::UTC);
         })},
        {"bad fields beside good ones", R"({"retentionDays":"x","focusedWindow":"weekly","focusAuto":"no",
           "focusedProvider":"codex","unknownKey":[1]})",
         with([](AppSettings& s) {
             s.focusedWindow = WindowKind::weekly;
             s.focusedProvider = Provider::codex;
         })},
    };
    for (const Row& row : rows)
        EXPECT_EQ(decodeText(row.json), row.expected) << row.name;
}

TEST(AppSettings, EncodingUsesRawStringsAndReferenceDateSeconds)
{
    const AppSettings settings = everyFieldChanged();
    const QJsonObject json = settings.toJson();
    EXPECT_EQ(json.value("menuBarDisplayMode").toString(), "auto");
    EXPECT_EQ(json.value("forecastBasis").toString(), "sinceWindowStart");
    EXPECT_EQ(json.value("enabledProviders").toVariant().toStringList(), QStringList{"claude"});
    // 2026-06-10T14:30:15.250Z is 802,794,615.25 s after 2001-01-01T00:00:00Z.
    EXPECT_DOUBLE_EQ(json.value("notificationsSnoozedUntil").toDouble(), 802794615.25);
    EXPECT_EQ(json.keys().size(), 21);

    const QJsonObject defaults = AppSettings{}.toJson();
    EXPECT_FALSE(defaults.contains("notificationsSnoozedUntil"));
    EXPECT_FALSE(defaults.contains("previousClaudeStatusLineCommand"));
    EXPECT_EQ(defaults.value("enabledProviders").toVariant().toStringList(),
              (QStringList{"codex", "claude"}));
    EXPECT_EQ(defaults.keys().size(), 19);
}

TEST(AppSettings, JsonRoundTripKeepsEveryField)
{
    const AppSettings settings = everyFieldChanged();
    EXPECT_EQ(AppSettings::fromJson(settings.toJson()), settings);
    EXPECT_EQ(AppSettings::fromJson(AppSettings{}.toJson()), AppSettings{});
}
