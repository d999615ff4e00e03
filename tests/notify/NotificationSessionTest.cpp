// Notifications on a private session bus and display (tests/support/run-session.sh): a real notification
// service (Debian's dunst) and the program end to end. Without a service: NotificationManagerTest and
// --notify-test below.
#include "app/AppTestSupport.h"
#include "app/NotificationManager.h"
#include "cli/CliProcess.h"
#include "platform/DBusNotificationSender.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>

using namespace CliTest;

namespace {

// One notification as dunst kept it.
struct Received
{
    QString app;
    QString summary;
    QString body;
    // Set by the rules below from the urgency: "critical" or "normal".
    QString urgency;
    QString icon;

    friend bool operator==(const Received&, const Received&) = default;
};

void PrintTo(const Received& r, std::ostream* out)
{
    *out << '{' << r.app.toStdString() << " | " << r.summary.toStdString() << " | " << r.body.toStdString()
         << " | " << r.urgency.toStdString() << " | " << r.icon.toStdString() << '}';
}

const QString kIcon = QStringLiteral(TALLYVANE_SOURCE_DIR "/resources/icons/tallyvane.svg");

QString output(const QString& program, const QStringList& arguments)
{
    return runProgram(program, arguments, {}, 5000).out;
}

// Asks again every 200 ms, so that asking may cost a process start.
bool poll(const std::function<bool()>& predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool serviceOnBus()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(DBusNotificationSender::service());
}

// Debian's dunst on this test's bus and display, keeping every notification (no stacking of duplicates, no
// limit) and showing the urgency of those from our desktop entry as the category. With markup (Debian's own
// configuration) it announces that bodies are markup; without, that they are plain text.
class Dunst
{
public:
    explicit Dunst(bool markup = true)
    {
        QFile config(m_dir.filePath(QStringLiteral("dunstrc")));
        config.open(QIODevice::WriteOnly);
        config.write(markup ? "[global]\n    markup = full\n" : "[global]\n    markup = no\n");
        config.write("    stack_duplicates = false\n"
                     "    notification_limit = 0\n"
                     "    icon_path = " TALLYVANE_SOURCE_DIR "/resources/icons\n"
                     "[urgency-critical]\n"
                     "    desktop_entry = io.github.tallyvane.Tallyvane\n"
                     "    msg_urgency = critical\n"
                     "    set_category = critical\n"
                     "[urgency-normal]\n"
                     "    desktop_entry = io.github.tallyvane.Tallyvane\n"
                     "    msg_urgency = normal\n"
                     "    set_category = normal\n");
        config.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("dunst"), {QStringLiteral("-config"), config.fileName()});
        m_ready = TestSupport::waitFor(serviceOnBus, 10'000);
    }
    ~Dunst()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }

    bool ready() const { return m_ready; }

    // Everything received so far, in the order received; what is still on screen is closed into the history
    // first.
    QList<Received> history() const
    {
        output(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
        const QJsonArray data =
            QJsonDocument::fromJson(output(QStringLiteral("dunstctl"), {QStringLiteral("history")}).toUtf8())
                .object()
                .value("data")
                .toArray()
                .first()
                .toArray();
        QMap<int, Received> received;
        for (const QJsonValue& entry : data) {
            const auto field = [&](const char* name) {
                return entry.toObject().value(QLatin1String(name)).toObject().value(QLatin1String("data"));
            };
            received.insert(field("id").toInt(), {field("appname").toString(), field("summary").toString(),
                                                  field("body").toString(), field("category").toString(),
                                                  field("icon_path").toString()});
        }
        return received.values();
    }
    QStringList summaries() const
    {
        QStringList titles;
        for (const Received& r : history())
            titles.append(r.summary);
        return titles;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
};

ForecastResult fiveHourForecast(Provider provider, double used)
{
    return AppTest::forecast(provider, WindowKind::fiveHour, used);
}

AppSettings alertsOn()
{
    AppSettings settings;
    settings.notificationsEnabled = true;
    return settings;
}

struct MarkupCase
{
    const char* name;
    bool markup;
    const char* closeToLimitBody;
};
void PrintTo(const MarkupCase& row, std::ostream* out)
{
    *out << row.name;
}

class DunstDelivery : public ::testing::TestWithParam<MarkupCase>
{};

TEST_P(DunstDelivery, ExactTitleBodyUrgencyAndIcon)
{
    Dunst dunst(GetParam().markup);
    ASSERT_TRUE(dunst.ready());
    DBusNotificationSender sender;
    NotificationManager manager(sender);
    std::optional<NotificationSender::CheckResult> checked;
    QObject::connect(&manager, &NotificationManager::serviceChecked,
                     [&](const NotificationSender::CheckResult& result) { checked = result; });

    ForecastResult closing = fiveHourForecast(Provider::codex, 75);
    closing.estimatedTimeToLimit = 30;
    manager.evaluate({closing}, {}, alertsOn());

    QList<Received> received;
    ASSERT_TRUE(poll([&] { return (received = dunst.history()).size() >= 2; }, 10'000));
    EXPECT_EQ(received,
              QList<Received>(
                  {{"Tallyvane", "Codex 5h usage high", "5h usage is above 70% (now 75%).", "normal", kIcon},
                   {"Tallyvane", "Codex close to limit", GetParam().closeToLimitBody, "critical", kIcon}}));
    ASSERT_TRUE(checked && checked->server);
    EXPECT_EQ(checked->server->name, "dunst");
    EXPECT_TRUE(manager.authorized());
}

// A service that reads bodies as markup gets "<" escaped, or it would drop the text or show it broken.
INSTANTIATE_TEST_SUITE_P(Markup, DunstDelivery,
                         ::testing::Values(MarkupCase{"full", true, "You may hit the 5h limit in ~&lt;1m."},
                                           MarkupCase{"no", false, "You may hit the 5h limit in ~<1m."}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(NotificationSession, AClickOnTheNotificationReportsItsIdentifier)
{
    Dunst dunst;
    ASSERT_TRUE(dunst.ready());
    DBusNotificationSender sender;
    NotificationManager manager(sender);
    QStringList activated;
    QObject::connect(&manager, &NotificationManager::activated,
                     [&](const QString& identifier) { activated.append(identifier); });
    manager.evaluate({fiveHourForecast(Provider::claude, 90)}, {}, alertsOn());
    ASSERT_TRUE(poll([] { return output("dunstctl", {"count", "displayed"}).trimmed() == "1"; }, 10'000));

    output(QStringLiteral("dunstctl"), {QStringLiteral("action"), QStringLiteral("0")});
    ASSERT_TRUE(TestSupport::waitFor([&] { return !activated.isEmpty(); }, 5000));
    EXPECT_TRUE(activated.first().startsWith("claude-5h-usage-")) << activated.first().toStdString();
}

TEST(NotificationSession, NotifyTestNamesTheServiceOrWhyNoneAnswered)
{
    Home home;
    {
        Dunst dunst;
        ASSERT_TRUE(dunst.ready());
        const ProcessResult result = run(home, {QStringLiteral("--notify-test")});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^Notification service: dunst \\d+\\.\\d+"))
                        .match(result.out)
                        .hasMatch())
            << result.out.toStdString();
        EXPECT_EQ(dunst.summaries(), QStringList({"Tallyvane test notification"}));
    }
    ASSERT_TRUE(TestSupport::waitFor([] { return !serviceOnBus(); }, 5000));
    const ProcessResult result = run(home, {QStringLiteral("--notify-test")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
    EXPECT_TRUE(result.err.startsWith("tallyvane: no notification service answered: The name "
                                      "org.freedesktop.Notifications was not provided"))
        << result.err.toStdString();
}

UsageSnapshot fiveHourAt(Provider provider, double used)
{
    const QDateTime at = QDateTime::currentDateTimeUtc().addSecs(-60);
    return TestSupport::reading(provider, WindowKind::fiveHour, at, used, at.addSecs(3 * 3600));
}

// Headless in a home whose log has crossed the 5-hour usage threshold of the default settings (70 %), where
// Claude Code has no credential and its endpoints are loopback.
void startHeadless(QProcess& headless, const Home& home)
{
    home.writeSettings(alertsOn());
    home.writeLog({fiveHourAt(Provider::codex, 75)});
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("CLAUDE_CONFIG_DIR"), home.path() + QStringLiteral("/.claude"));
    env.insert(QStringLiteral("TALLYVANE_CLAUDE_API_URL"), QStringLiteral("http://127.0.0.1:9"));
    env.insert(QStringLiteral("TALLYVANE_CLAUDE_TOKEN_URLS"),
               QStringLiteral("http://127.0.0.1:9/v1/oauth/token"));
    headless.setProcessEnvironment(env);
    headless.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    headless.start(binary(), {QStringLiteral("--headless")});
}

bool stop(QProcess& process)
{
    ::kill(pid_t(process.processId()), SIGTERM);
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The running program: one alert on the first cycle, none again on the next cycle (30 s later) while the
// cooldown lasts. The second cycle shows itself by a new Claude alert.
TEST(NotificationSession, HeadlessPostsTheUsageAlertOncePerCooldown)
{
    Dunst dunst;
    ASSERT_TRUE(dunst.ready());
    Home home;
    QProcess headless;
    startHeadless(headless, home);
    // Well before the refresh timer's first tick (30 s): the start-up cycle posted it.
    ASSERT_TRUE(poll([&] { return dunst.summaries().contains("Codex 5h usage high"); }, 10'000));

    home.writeLog({fiveHourAt(Provider::claude, 80)});
    ASSERT_TRUE(poll([&] { return dunst.summaries().contains("Claude Code 5h usage high"); }, 45'000));
    const QList<Received> received = dunst.history();
    EXPECT_EQ(received, QList<Received>({{"Tallyvane", "Codex 5h usage high",
                                          "5h usage is above 70% (now 75%).", "normal", kIcon},
                                         {"Tallyvane", "Claude Code 5h usage high",
                                          "5h usage is above 70% (now 80%).", "normal", kIcon}}));
    EXPECT_TRUE(stop(headless));
}

} // namespace
