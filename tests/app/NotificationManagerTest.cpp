#include "app/NotificationManager.h"
#include "AppTestSupport.h"
#include "app/AppState.h"
#include "core/AppLogger.h"
#include "core/LocalFileStore.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

// A notification service in memory. Like a real bus it answers later: when the test calls answer().
class FakeSender final : public NotificationSender
{
public:
    void checkService(std::function<void(const CheckResult&)> done) override
    {
        ++checks;
        m_pending.append([this, done] {
            done(server ? CheckResult{server, {}} : CheckResult{std::nullopt, error});
        });
    }
    void post(const NotificationRequest& request, std::function<void(const PostResult&)> done) override
    {
        m_pending.append([this, request, done] {
            if (!server || refusePosts) {
                done({std::nullopt, error});
                return;
            }
            posted.append(request);
            done({quint32(posted.size()), {}});
        });
    }
    void setActivationHandler(std::function<void(const QString&)>) override {}

    void answer()
    {
        while (!m_pending.isEmpty())
            m_pending.takeFirst()();
    }
    QStringList postedKeys() const
    {
        QStringList keys;
        for (const NotificationRequest& r : posted)
            keys.append(r.key);
        return keys;
    }

    std::optional<NotificationServerInfo> server = NotificationServerInfo{"fake", "tests", "1.0", "1.2"};
    bool refusePosts = false;
    QString error;
    int checks = 0;
    QList<NotificationRequest> posted;

private:
    QList<std::function<void()>> m_pending;
};

const QDateTime kSunday = QDateTime(QDate(2026, 5, 17), QTime(19, 0), Qt::UTC);

AppSettings enabled()
{
    AppSettings settings;
    settings.notificationsEnabled = true;
    settings.extraUsageBudgetGBP = 50;
    return settings;
}

ForecastResult usageAt(double used)
{
    return AppTest::forecast(Provider::codex, WindowKind::fiveHour, used);
}

CalibratedProjection runningOut()
{
    CalibratedProjection p;
    p.projectedUsedAtReset = 120;
    p.daysOfHeadroom = 1;
    p.daysRemaining = 4;
    return p;
}

// Every alert kind fires once from these inputs, evaluated at `now`.
void evaluateAll(NotificationManager& manager, const AppSettings& settings, const QDateTime& now)
{
    manager.evaluate({usageAt(75)}, {}, settings);
    manager.evaluateRunOut({{Provider::claude, runningOut()}}, settings, now);
    manager.evaluateBudget(ClaudeExtraUsage{true, 45, std::nullopt, "GBP"}, settings, now);
    manager.weeklyRecap(QStringLiteral("Codex: 40% of weekly used"), settings, now);
}

int logLinesWith(const QString& text)
{
    AppLogger::shared().flush();
    QFile log(LocalFileStore::logPath());
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return int(QString::fromUtf8(log.readAll()).count(text));
}

struct CooldownCase
{
    const char* name;
    qint64 laterMs;
    std::optional<double> laterProjection;
    QStringList posted;
};
void PrintTo(const CooldownCase& row, std::ostream* out)
{
    *out << row.name;
}

class NotificationCooldown : public ::testing::TestWithParam<CooldownCase>
{};

TEST_P(NotificationCooldown, SameConditionWaitsAnotherOneDoesNot)
{
    ManualClock clock(kSunday);
    FakeSender sender;
    NotificationManager manager(sender, clock, QTimeZone("UTC"));
    manager.evaluate({usageAt(75)}, {}, enabled());
    clock.set(kSunday.addMSecs(GetParam().laterMs));
    ForecastResult later = usageAt(80);
    later.projectedUsedAtReset = GetParam().laterProjection;
    manager.evaluate({later}, {}, enabled());
    sender.answer();
    EXPECT_EQ(sender.postedKeys(), GetParam().posted);
    for (const NotificationRequest& r : sender.posted)
        EXPECT_FALSE(QUuid::fromString(r.identifier.sliced(r.key.size() + 1)).isNull())
            << r.identifier.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cooldown, NotificationCooldown,
    ::testing::Values(CooldownCase{"JustUnder", 1'800'000 - 1, {}, {"codex-5h-usage"}},
                      CooldownCase{"Exactly", 1'800'000, {}, {"codex-5h-usage", "codex-5h-usage"}},
                      CooldownCase{"JustOver", 1'800'000 + 1, {}, {"codex-5h-usage", "codex-5h-usage"}},
                      CooldownCase{"AnotherCondition", 60'000, 95, {"codex-5h-usage", "codex-5h-forecast"}}),
    [](const auto& row) { return std::string(row.param.name); });

struct GateCase
{
    const char* name;
    std::function<void(AppSettings&)> change;
    QStringList posted;
};
void PrintTo(const GateCase& row, std::ostream* out)
{
    *out << row.name;
}

class NotificationGates : public ::testing::TestWithParam<GateCase>
{};

TEST_P(NotificationGates, ApplyToAllFourEvaluations)
{
    ManualClock clock(kSunday);
    FakeSender sender;
    NotificationManager manager(sender, clock, QTimeZone("UTC"));
    AppSettings settings = enabled();
    GetParam().change(settings);
    evaluateAll(manager, settings, clock.now());
    sender.answer();
    EXPECT_EQ(sender.postedKeys(), GetParam().posted);
}

INSTANTIATE_TEST_SUITE_P(
    Gates, NotificationGates,
    ::testing::Values(
        GateCase{"Disabled", [](AppSettings& s) { s.notificationsEnabled = false; }, {}},
        GateCase{"DemoMode", [](AppSettings& s) { s.demoMode = true; }, {}},
        GateCase{"Snoozed", [](AppSettings& s) { s.notificationsSnoozedUntil = kSunday.addSecs(1); }, {}},
        GateCase{"SnoozeOver",
                 [](AppSettings& s) { s.notificationsSnoozedUntil = kSunday; },
                 {"codex-5h-usage", "claude-runout-20590", "overage-80-20590", "weekly-recap-20"}}),
    [](const auto& row) { return std::string(row.param.name); });

// The recap on the zone's own wall clock: local Sunday 18:00 to 21:59, once per week.
class WeeklyRecap : public ::testing::TestWithParam<const char*>
{};

TEST_P(WeeklyRecap, OnlySundayEveningOnTheLocalClockOncePerWeek)
{
    const QTimeZone zone(GetParam());
    ASSERT_TRUE(zone.isValid());
    const auto local = [&](int day, int hour, int minute) {
        return QDateTime(QDate(2026, 5, day), QTime(hour, minute), zone);
    };
    ManualClock clock(local(16, 19, 0));
    FakeSender sender;
    NotificationManager manager(sender, clock, zone);
    const struct
    {
        QDateTime at;
        QStringList posted;
    } steps[] = {
        {local(16, 19, 0), {}},                                      // Saturday evening
        {local(17, 17, 59), {}},                                     // Sunday, too early
        {local(17, 18, 0), {"weekly-recap-20"}},                     // first minute
        {local(17, 21, 59), {"weekly-recap-20"}},                    // same week: once
        {local(18, 19, 0), {"weekly-recap-20"}},                     // Monday
        {local(24, 21, 59), {"weekly-recap-20", "weekly-recap-21"}}, // last minute of next Sunday
        {local(31, 22, 0), {"weekly-recap-20", "weekly-recap-21"}},  // too late
    };
    for (const auto& step : steps) {
        clock.set(step.at);
        manager.weeklyRecap(QStringLiteral("Codex: 40% of weekly used"), enabled(), clock.now());
        sender.answer();
        EXPECT_EQ(sender.postedKeys(), step.posted) << step.at.toString(Qt::ISODate).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, WeeklyRecap, ::testing::Values("Europe/London", "Asia/Tokyo"),
                         [](const auto& row) {
                             return QString::fromLatin1(row.param).split('/').last().toStdString();
                         });

TEST(NotificationManager, WithoutAServiceLogsOnceAndAsksAgainAtMostEveryTenMinutes)
{
    ManualClock clock(kSunday);
    FakeSender sender;
    sender.server.reset();
    sender.error = QStringLiteral("no service for the ten-minute test");
    NotificationManager manager(sender, clock, QTimeZone("UTC"));
    const QString logged = QStringLiteral("Notifications unavailable: no service for the ten-minute test");

    manager.evaluate({usageAt(75)}, {}, enabled());
    sender.answer();
    EXPECT_EQ(sender.checks, 1);
    EXPECT_FALSE(manager.authorized());

    // Alerts are still decided (their cooldown starts) but nothing asks or posts until ten minutes passed.
    clock.advance(599);
    ForecastResult burning = usageAt(75);
    burning.projectedUsedAtReset = 95;
    manager.evaluate({burning}, {}, enabled());
    sender.answer();
    EXPECT_EQ(sender.checks, 1);
    EXPECT_TRUE(manager.lastFired().contains("codex-5h-forecast"));

    clock.advance(1);
    manager.evaluate({AppTest::forecast(Provider::claude, WindowKind::fiveHour, 75)}, {}, enabled());
    sender.answer();
    EXPECT_EQ(sender.checks, 2);
    EXPECT_TRUE(sender.posted.isEmpty());
    EXPECT_EQ(logLinesWith(logged), 1);

    // The service appears: the next due check finds it and the alert that asked is shown.
    sender.server = NotificationServerInfo{"fake", "tests", "1.0", "1.2"};
    clock.advance(600);
    ForecastResult claudeBurning = AppTest::forecast(Provider::claude, WindowKind::fiveHour, 75);
    claudeBurning.projectedUsedAtReset = 95;
    manager.evaluate({claudeBurning}, {}, enabled());
    sender.answer();
    EXPECT_EQ(sender.checks, 3);
    EXPECT_TRUE(manager.authorized());
    EXPECT_EQ(sender.postedKeys(), QStringList({"claude-5h-forecast"}));

    // A service that stops taking notifications is a new outage: logged once more.
    sender.refusePosts = true;
    manager.evaluate({usageAt(75), burning}, {}, enabled());
    clock.advance(1800);
    manager.evaluate({usageAt(75)}, {}, enabled());
    sender.answer();
    EXPECT_EQ(logLinesWith(logged), 2);
    EXPECT_FALSE(manager.authorized());
}

// The application state hands every cycle to the manager, in the fixed order, with the cycle's settings.
TEST(NotificationManager, EachAppliedCycleIsEvaluatedWithItsSettings)
{
    ManualClock clock(kSunday);
    FakeSender sender;
    NotificationManager manager(sender, clock, QTimeZone("UTC"));
    AppStateEnvironment env;
    env.clock = [&clock] { return clock.now(); };
    env.loadSettings = [] { return AppSettings{}; };
    env.scheduleSave = [](const AppSettings&) {};
    env.notifications = &manager;
    env.extraUsage = [] { return ClaudeExtraUsage{true, 42.5, 100.0, "USD"}; };
    env.weeklyRecapText = [](const AppState& state) {
        return QStringLiteral("%1 forecasts this week").arg(state.forecasts().size());
    };
    AppState state(env);

    ForecastBundle bundle;
    bundle.forecasts.insert("codex-fiveHour", usageAt(75));
    PaceResult pace;
    pace.paceDelta = 12;
    bundle.paces.insert(Provider::claude, pace);
    bundle.calibrated.insert(Provider::codex, runningOut());

    AppSettings demo = enabled();
    demo.demoMode = true;
    state.apply(bundle, demo, clock.now());
    sender.answer();
    EXPECT_TRUE(sender.posted.isEmpty());

    state.apply(bundle, enabled(), clock.now());
    sender.answer();
    EXPECT_EQ(sender.postedKeys(), QStringList({"codex-5h-usage", "claude-weekly-pace", "codex-runout-20590",
                                                "overage-80-20590", "weekly-recap-20"}));
    EXPECT_EQ(sender.posted[3].body, "Claude overage spend is $42.50 of your $50 budget.");
    EXPECT_EQ(sender.posted[4].body, "1 forecasts this week");
}

} // namespace
