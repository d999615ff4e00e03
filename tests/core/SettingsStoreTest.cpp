#include "core/io/SettingsStore.h"
#include "QtPrinters.h"
#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SettingsSaver.h"
#include "core/text/Zone.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <sys/stat.h>

namespace {

using TestSupport::readFile;

// Spins the event loop for a while, so queued timers can fire.
void spin(int ms)
{
    QElapsedTimer timer;
    timer.start();
    TestSupport::waitFor([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

// Runs the event loop until a timer started now with the saver's delay has fired. Timers fire in the order
// they fall due, so by then any timer the saver started earlier has fired too: a later sentinel, not a
// guess at how long a loaded machine needs.
void outlastTheSaversTimer()
{
    bool fired = false;
    QTimer::singleShot(SettingsSaver::delayMs, Qt::PreciseTimer, [&] { fired = true; });
    ASSERT_TRUE(TestSupport::waitFor([&] { return fired; }, SettingsSaver::delayMs + 10000));
}

class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(store.url());
        QFile::remove(store.corruptUrl());
    }
    void TearDown() override { SetUp(); }

    SettingsStore store;
};

} // namespace

TEST_F(SettingsStoreTest, SaveThenLoadRoundTripsEveryFieldIncludingTheSnoozeDate)
{
    AppSettings settings;
    settings.enabledProviders = {Provider::codex};
    settings.forecastBasis = ForecastBasis::smart;
    settings.menuBarDisplayMode = MenuBarDisplayMode::minimal;
    settings.weeklyDailyTargetPercent = 0.1 + 0.2; // not exactly representable in a short decimal
    settings.notificationsEnabled = true;
    settings.notificationThresholds = {50, 80, 30, 95, 5.5};
    settings.notificationCooldownMinutes = 7.5;
    settings.notificationsSnoozedUntil = QDateTime(QDate(2026, 12, 6), QTime(18, 40, 1, 123), Zone::utc());
    settings.extraUsageBudgetGBP = 12.34;
    settings.startAtLogin = true;
    settings.retentionDays = 365;
    settings.hasOnboarded = true;
    settings.welcomeOpened = true;
    settings.sleep = {true, 0, 360};
    settings.showRemaining = false;
    settings.currencyGBP = true;
    settings.focusedProvider = Provider::codex;
    settings.focusedWindow = WindowKind::sevenDay;
    settings.focusAuto = false;
    settings.showNoTrayNotice = false;

    settings.trayProvider = Provider::claude;
    ASSERT_TRUE(store.save(settings));
    EXPECT_EQ(store.load(), settings);

    // Written before the tray had a provider of its own: it keeps showing the one it showed.
    QJsonObject older = settings.toJson();
    older.remove(QStringLiteral("trayProvider"));
    EXPECT_EQ(AppSettings::fromJson(older).trayProvider, Provider::codex);
}

TEST_F(SettingsStoreTest, FileIsPrettyPrintedWithKeysSortedAtEveryLevel)
{
    AppSettings settings;
    settings.notificationsSnoozedUntil = QDateTime(QDate(2001, 1, 2), QTime(0, 0), Zone::utc());
    ASSERT_TRUE(store.save(settings));
    const QByteArray text = readFile(store.url());
    EXPECT_GT(text.count('\n'), 30); // one key per line
    EXPECT_TRUE(text.contains("\"notificationsSnoozedUntil\": 86400,"));
    // Each level's keys, in file order, must come out sorted.
    const auto inFileOrder = [&text](QStringList keys) {
        std::sort(keys.begin(), keys.end(), [&text](const QString& a, const QString& b) {
            return text.indexOf("\"" + a.toUtf8() + "\":") < text.indexOf("\"" + b.toUtf8() + "\":");
        });
        return keys;
    };
    for (const QStringList& level :
         {settings.toJson().keys(), settings.notificationThresholds.toJson().keys(),
          settings.sleep.toJson().keys()}) {
        QStringList sorted = level;
        sorted.sort(Qt::CaseSensitive);
        EXPECT_EQ(inFileOrder(level), sorted);
    }
}

TEST_F(SettingsStoreTest, MissingFileGivesDefaultsSilently)
{
    AppLogger::shared().flush();
    const QByteArray logBefore = readFile(LocalFileStore::logPath());
    EXPECT_EQ(store.load(), AppSettings{});
    AppLogger::shared().flush();
    EXPECT_EQ(readFile(LocalFileStore::logPath()), logBefore);
    EXPECT_FALSE(QFile::exists(store.url()));
}

TEST_F(SettingsStoreTest, UnparseableFileWarnsAndIsMovedAsideNotOverwritten)
{
    struct Row
    {
        const char* name;
        QByteArray text;
    };
    const Row rows[] = {
        {"hand edit with a trailing comma", "{\n  \"retentionDays\": 60,\n}\n"},
        {"top level is an array", "[1, 2]"},
        {"empty file", ""},
        {"invalid UTF-8 inside a string", "{\"previousClaudeStatusLineCommand\": \"\xff\xfe\"}"},
        {"valid but over the size limit",
         "{\"retentionDays\": 60" + QByteArray(SettingsStore::maxFileBytes, ' ') + "}"},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(TestSupport::writeFile(store.corruptUrl(), "an older corrupt copy"));
        ASSERT_TRUE(TestSupport::writeFile(store.url(), row.text));
        AppLogger::shared().flush();
        const qsizetype logSize = readFile(LocalFileStore::logPath()).size();

        EXPECT_EQ(store.load(), AppSettings{}) << row.name;
        AppLogger::shared().flush();
        const QByteArray newLog = readFile(LocalFileStore::logPath()).mid(logSize);
        EXPECT_TRUE(newLog.endsWith("] WARN Settings decode failed; using defaults\n")) << row.name;
        EXPECT_FALSE(QFile::exists(store.url())) << row.name;
        EXPECT_EQ(readFile(store.corruptUrl()), row.text) << row.name;

        // The next save writes fresh defaults and leaves the kept copy alone.
        ASSERT_TRUE(store.save(AppSettings{}));
        EXPECT_EQ(readFile(store.corruptUrl()), row.text) << row.name;
    }
}

TEST_F(SettingsStoreTest, ReadableFileWithBadFieldsIsNotMovedAside)
{
    ASSERT_TRUE(TestSupport::writeFile(store.url(), R"({"retentionDays": "sixty", "showRemaining": false})"));
    AppSettings expected;
    expected.showRemaining = false;
    EXPECT_EQ(store.load(), expected);
    EXPECT_TRUE(QFile::exists(store.url()));
    EXPECT_FALSE(QFile::exists(store.corruptUrl()));
}

TEST_F(SettingsStoreTest, AFifoInPlaceOfTheFileIsNeitherWaitedOnNorReplaced)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(store.url()).constData(), 0644), 0);
    EXPECT_EQ(store.load(), AppSettings{});
    EXPECT_FALSE(store.save(AppSettings{}));
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(store.url()).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_FALSE(QFile::exists(store.corruptUrl()));
}

TEST(SettingsDemoRule, OnlyTheDemoArgumentChangesTheFlags)
{
    EXPECT_TRUE(SettingsStore::demoRequested({"tallyvane", "--demo"}));
    EXPECT_FALSE(SettingsStore::demoRequested({"tallyvane", "--demo-mode", "demo"}));
    AppSettings stored;
    stored.demoMode = true; // chosen in the settings screen, not by the argument
    EXPECT_EQ(SettingsStore::appliedDemoOnLoad(stored, false), stored);
    EXPECT_EQ(SettingsStore::appliedDemoOnSave(stored, false), stored);
}

TEST_F(SettingsStoreTest, ThreeChangesInABurstGiveOneWriteHalfASecondAfterTheLast)
{
    SettingsSaver saver(store, false);
    AppSettings settings;
    QElapsedTimer sinceLastChange;
    for (qint64 days : {31, 32, 33}) {
        settings.retentionDays = days;
        saver.schedule(settings);
        sinceLastChange.start();
        if (days != 33)
            spin(100);
    }
    EXPECT_EQ(saver.writeCount(), 0);
    EXPECT_FALSE(QFile::exists(store.url()));

    ASSERT_TRUE(TestSupport::waitFor([&] { return saver.writeCount() > 0; }, 3000));
    const qint64 elapsed = sinceLastChange.elapsed();
    EXPECT_GE(elapsed, SettingsSaver::delayMs);
    EXPECT_LT(elapsed, SettingsSaver::delayMs + 700); // a busy machine may be slow, never early
    EXPECT_EQ(store.load().retentionDays, 33);

    outlastTheSaversTimer();
    saver.flush(); // nothing left to write: only waits for the queue
    EXPECT_EQ(saver.writeCount(), 1);
}

TEST_F(SettingsStoreTest, DemoRunSavesDemoModeOffAndFlushWritesAtOnce)
{
    AppSettings settings = SettingsStore::appliedDemoOnLoad(AppSettings{}, true);
    EXPECT_TRUE(settings.demoMode && settings.hasOnboarded);
    SettingsSaver saver(store, true);
    settings.currencyGBP = true;
    saver.schedule(settings);
    settings.currencyGBP = false; // a change not scheduled is not saved
    saver.flush();
    EXPECT_EQ(saver.writeCount(), 1);
    const AppSettings saved = store.load();
    EXPECT_FALSE(saved.demoMode);
    EXPECT_TRUE(saved.hasOnboarded);
    EXPECT_TRUE(saved.currencyGBP);
    // The flushed save does not run a second time from its timer.
    outlastTheSaversTimer();
    saver.flush();
    EXPECT_EQ(saver.writeCount(), 1);
}
