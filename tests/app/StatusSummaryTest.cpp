// The status-line summary: what it says for a crafted state, and that it is written only when that changes.
#include "app/StatusSummary.h"

#include "AppTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

const QDateTime now = QDateTime::fromString("2026-04-11T12:00:00Z", Qt::ISODate);

ForecastResult forecast(Provider provider, WindowKind window, double used, ForecastStatus status,
                        std::optional<QDateTime> runOutAt = {})
{
    ForecastResult result;
    result.provider = provider;
    result.windowKind = window;
    result.currentUsedPercent = used;
    result.currentRemainingPercent = 100 - used;
    result.status = status;
    result.runOutAt = runOutAt;
    result.limitBeforeReset = runOutAt.has_value();
    return result;
}

struct SummaryCase
{
    const char* name;
    QList<ForecastResult> forecasts;
    bool showRemaining;
    // The windows' members as compact JSON; the run-out's clock text is checked apart, being local time.
    QByteArray windows;
    const char* status;
};

} // namespace

TEST(StatusSummary, ContentForCraftedStates)
{
    const QDateTime runOut = now.addSecs(3300);
    const QList<SummaryCase> cases{
        {"nothing known", {}, true, "{}", "noData"},
        {"left, with a run-out before the reset, and no-data windows left out",
         {forecast(Provider::claude, WindowKind::fiveHour, 37, ForecastStatus::risky, runOut),
          forecast(Provider::claude, WindowKind::sevenDay, 59, ForecastStatus::safe),
          forecast(Provider::claude, WindowKind::weekly, 0, ForecastStatus::noData)},
         true,
         R"({"claude-fiveHour":{"runsOut":"RUNOUT","runsOutAt":"2026-04-11T12:55:00Z","shown":"63% left",)"
         R"("status":"risky","usedPercent":37},"claude-sevenDay":{"shown":"41% left","status":"safe",)"
         R"("usedPercent":59}})",
         "risky"},
        {"used, a run-out already past is dropped, a disabled provider too",
         {forecast(Provider::claude, WindowKind::fiveHour, 99.5, ForecastStatus::limitLikely,
                   now.addSecs(-60)),
          forecast(Provider::codex, WindowKind::fiveHour, 10, ForecastStatus::safe)},
         false,
         R"({"claude-fiveHour":{"shown":"100% used","status":"limitLikely","usedPercent":99.5}})",
         "limitLikely"},
    };
    for (const SummaryCase& c : cases) {
        AppSettings settings;
        settings.showRemaining = c.showRemaining;
        if (QByteArray(c.name).contains("disabled"))
            settings.enabledProviders = {Provider::claude};
        const QJsonObject content = StatusSummary::content(AppTest::keyed(c.forecasts), settings, now);
        const QByteArray expected = QByteArray(c.windows).replace(
            "RUNOUT", runOut.toLocalTime().toString(QStringLiteral("HH:mm")).toUtf8());
        EXPECT_EQ(QJsonDocument(content["windows"].toObject()).toJson(QJsonDocument::Compact), expected)
            << c.name;
        EXPECT_EQ(content["status"].toString(), QString::fromLatin1(c.status)) << c.name;
        EXPECT_EQ(content["showRemaining"].toBool(), c.showRemaining) << c.name;
    }
}

// Another watched Claude account is listed with what a session in its folder needs, a label made from an
// e-mail address replaced by the key; one account each lists nothing, nor does a Codex account or one no
// longer watched.
TEST(StatusSummary, ListsAnotherClaudeAccountForASessionInItsFolder)
{
    const auto fiveHour = [](Provider provider, double used) {
        return forecast(provider, WindowKind::fiveHour, used, ForecastStatus::watch);
    };
    AccountForecasts mailed = AppTest::account(false, Provider::claude, "eeee5555", "ann", "/h/work-claude",
                                               {fiveHour(Provider::claude, 1)});
    mailed.labelFromEmail = true;
    const QList<AccountForecasts> accounts{
        AppTest::account(true, Provider::claude, "aaaa1111", "me", "/h/.claude"),
        mailed,
        AppTest::account(false, Provider::claude, "bbbb2222", "work", "/h/.claude-work",
                         {fiveHour(Provider::claude, 80)}),
        AppTest::account(false, Provider::claude, "cccc3333", "cccc3333", "",
                         {fiveHour(Provider::claude, 10)}),
        AppTest::account(false, Provider::codex, "dddd4444", "work", "/h/.codex-work",
                         {fiveHour(Provider::codex, 10)}),
    };
    const auto forecasts = AppTest::keyed({fiveHour(Provider::claude, 37)});
    EXPECT_FALSE(StatusSummary::content(forecasts, AppSettings{}, now).contains("accounts"));
    const QJsonObject content = StatusSummary::content(forecasts, AppSettings{}, now, accounts);
    EXPECT_EQ(
        QJsonDocument(content["accounts"].toArray()).toJson(QJsonDocument::Compact),
        R"([{"folder":"/h/work-claude","key":"eeee5555","label":"eeee5555","windows":{"claude-fiveHour":)"
        R"({"shown":"99% left","status":"watch","usedPercent":1}}},)"
        R"({"folder":"/h/.claude-work","key":"bbbb2222","label":"work","windows":{"claude-fiveHour":)"
        R"({"shown":"20% left","status":"watch","usedPercent":80}}}])");
    EXPECT_EQ(content["windows"], StatusSummary::content(forecasts, AppSettings{}, now)["windows"]);
}

TEST(StatusSummary, WrittenOnlyWhenItChangesAndRemovedWhenTurnedOff)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("statusline-summary.json");
    StatusSummaryPublisher publisher(path);
    const auto inode = [&path] {
        struct stat info = {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
    };
    AppSettings settings;
    QMap<QString, ForecastResult> forecasts =
        AppTest::keyed({forecast(Provider::claude, WindowKind::fiveHour, 37, ForecastStatus::safe)});

    publisher.publish(forecasts, settings, now);
    const QJsonObject written = QJsonDocument::fromJson(TestSupport::readFile(path)).object();
    EXPECT_EQ(written["windows"]["claude-fiveHour"]["shown"].toString(), "63% left");
    EXPECT_FALSE(written["writtenAt"].toString().isEmpty());
    EXPECT_EQ(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);

    // Unchanged: the same file (an atomic write would give a new one), only its time renewed.
    const auto first = inode();
    ASSERT_TRUE(TestSupport::setModified(path, QDateTime::currentDateTimeUtc().addSecs(-3600)));
    publisher.publish(forecasts, settings, now.addSecs(30));
    EXPECT_EQ(inode(), first);
    EXPECT_GT(QFileInfo(path).lastModified(), QDateTime::currentDateTimeUtc().addSecs(-60));

    forecasts["claude-fiveHour"].currentUsedPercent = 40;
    publisher.publish(forecasts, settings, now.addSecs(60));
    EXPECT_NE(inode(), first);
    const QJsonObject changed = QJsonDocument::fromJson(TestSupport::readFile(path)).object();
    EXPECT_EQ(changed["windows"]["claude-fiveHour"]["shown"].toString(), "60% left");

    // Removed by hand while nothing changes: written again rather than left missing.
    QFile::remove(path);
    publisher.publish(forecasts, settings, now.addSecs(90));
    EXPECT_TRUE(QFileInfo::exists(path));

    for (const bool demo : {false, true}) {
        AppSettings off = settings;
        off.statusLineForecast = demo;
        off.demoMode = demo;
        publisher.publish(forecasts, settings, now);
        ASSERT_TRUE(QFileInfo::exists(path));
        publisher.publish(forecasts, off, now);
        EXPECT_FALSE(QFileInfo::exists(path)) << (demo ? "demo data" : "turned off");
    }
    publisher.publish(forecasts, settings, now);
    {
        // A demo beside a real collector, or one that never wrote: the collector's summary stays.
        AppSettings demo = settings;
        demo.demoMode = true;
        StatusSummaryPublisher other(path);
        other.publish(forecasts, demo, now);
    }
    EXPECT_TRUE(QFileInfo::exists(path));
    {
        StatusSummaryPublisher kept(path);
        kept.publish(forecasts, settings, now);
    }
    EXPECT_FALSE(QFileInfo::exists(path)) << "one that kept it takes it along when it goes";
}
