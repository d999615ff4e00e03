#include "app/NotificationManager.h"
#include "AppTestSupport.h"
#include "app/AppState.h"
#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "core/text/Zone.h"

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
        const CheckResult result = server ? CheckResult{server, {}} : CheckResult{std::nullopt, error};
        m_pending.append([done, result] { done(result); });
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

const QDateTime kSunday = QDateTime(QDate(2026, 5, 17), QTime(19, 0), Zone::utc());

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

int logLinesWith(const QString& text)
{
    AppLogger::shared().flush();
    return int(QString::fromUtf8(TestSupport::readFile(LocalFileStore::logPath())).count(text));
}

TEST(NotificationManager, SameConditionWaitsForTheCooldownAnotherOneDoesNot)
{
    const struct
    {
        qint64 laterMs;
        std::optional<double> laterProjection;
        QStringList posted;
    } rows[] = {
        {1'800'000 - 1, {}, {"codex-5h-usage"}},
        {1'800'000, {}, {"codex-5h-usage", "codex-5h-usage"}},
        {1'800'000 + 1, {}, {"codex-5h-usage", "codex-5h-usage"}},
        {60'000, 95, {"codex-5h-usage", "codex-5h-forecast"}}, // another condition
    };
    for (const auto& row : rows) {
        ManualClock clock(kSunday);
        FakeSender sender;
        NotificationManager manager(sender, clock, QTimeZone("UTC"));
        manager.evaluate({usageAt(75)}, {}, enabled());
        clock.set(kSunday.addMSecs(row.laterMs));
        ForecastResult later = usageAt(80);
        later.projectedUsedAtReset = row.laterProjection;
        manager.evaluate({later}, {}, enabled());
        sender.answer();
        EXPECT_EQ(sender.postedKeys(), row.posted) << row.laterMs;
        for (const NotificationRequest& r : sender.posted)
            EXPECT_FALSE(QUuid::fromString(r.identifier.sliced(r.key.size() + 1)).isNull())
                << r.identifier.toStdString();
    }
}

TEST(NotificationManager, GatesApplyToAllFourEvaluations)
{
    const struct
    {
        const char* name;
        std::function<void(AppSettings&)> change;
        QStringList posted;
    } rows[] = {
        {"disabled", [](AppSettings& s) { s.notificationsEnabled = false; }, {}},
        {"demo mode", [](AppSettings& s) { s.demoMode = true; }, {}},
        {"snoozed", [](AppSettings& s) { s.notificationsSnoozedUntil = kSunday.addSecs(1); }, {}},
        {"snooze over",
         [](AppSettings& s) { s.notificationsSnoozedUntil = kSunday; },
         {"codex-5h-usage", "claude-runout-20590", "overage-80-20590", "weekly-recap-20"}},
    };
    for (const auto& row : rows) {
        ManualClock clock(kSunday);
        FakeSender sender;
        NotificationManager manager(sender, clock, QTimeZone("UTC"));
        AppSettings settings = enabled();
        row.change(settings);
        manager.evaluate({usageAt(75)}, {}, settings);
        manager.evaluateRunOut({{Provider::claude, runningOut()}}, settings, clock.now());
        manager.evaluateBudget(ClaudeExtraUsage{true, 45, std::nullopt, "GBP"}, settings, clock.now());
        manager.weeklyRecap(QStringLiteral("Codex: 40% of weekly used"), settings, clock.now());
        sender.answer();
        EXPECT_EQ(sender.postedKeys(), row.posted) << row.name;
    }
}

// The recap on the zone's own wall clock: local Sunday 18:00 to 21:59, once per week.
TEST(NotificationManager, WeeklyRecapOnlySundayEveningOnTheLocalClockOncePerWeek)
{
    for (const char* name : {"Europe/London", "Asia/Tokyo"}) {
        const QTimeZone zone(name);
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
            EXPECT_EQ(sender.postedKeys(), step.posted)
                << name << ' ' << step.at.toString(Qt::ISODate).toStdString();
        }
    }
}

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
    AppStateEnvironment env = AppTest::environment();
    env.clock = &clock;
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
