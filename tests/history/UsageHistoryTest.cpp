#include "history/UsageHistory.h"
#include "core/ZoneGuard.h"
#include "core/text/Zone.h"
#include "history/TranscriptCorpus.h"
#include "history/TranscriptFiles.h"
#include "history/ZoneCalendar.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace Corpus;

class UsageHistoryTest : public testing::Test
{
protected:
    UsageHistoryTest() : zone("UTC"), clock(QDateTime::currentDateTimeUtc()) {}

    UsageHistory::Options options()
    {
        UsageHistory::Options o;
        o.cachePath = dir.filePath(QStringLiteral("data/usage-history-cache.json"));
        o.claudeRoots = {dir.filePath(QStringLiteral(".claude/projects"))};
        o.codexRoots = {dir.filePath(QStringLiteral(".codex/sessions")),
                        dir.filePath(QStringLiteral(".codex/archived_sessions"))};
        o.clock = &clock;
        o.postToMain = [this](std::function<void()> callback) {
            callback();
            ++announced;
        };
        return o;
    }

    QString write(const QString& relative, const QByteArray& bytes, bool append = false)
    {
        const QString path = dir.filePath(relative);
        EXPECT_TRUE(append ? TestSupport::appendFile(path, bytes) : TestSupport::writeFile(path, bytes));
        return path;
    }

    void age(const QString& relative, qint64 seconds)
    {
        ASSERT_TRUE(TestSupport::setModified(dir.filePath(relative), clock.now().addSecs(-seconds)));
    }

    qint64 nowMs() const { return clock.now().toMSecsSinceEpoch(); }

    ZoneGuard zone;
    QTemporaryDir dir;
    ManualClock clock;
    std::atomic<int> announced{0};
};

TEST_F(UsageHistoryTest, ScansBothProvidersAndKeepsOnlyTheLookback)
{
    write(".claude/projects/-p/a.jsonl", line(claudeReply(nowMs() - 3600000, "m", "r", "s", {100, 0, 0, 0})));
    write(".claude/projects/-p/sess/subagents/agent-1.jsonl",
          line(claudeReply(nowMs() - 3600000, "m", "r", "s", {10, 0, 0, 0})));
    write(".codex/sessions/2026/01/01/rollout-1.jsonl",
          line(codexTokenCount(nowMs() - 60000, CodexCounts{1, 0, 1, 0, 2}, CodexCounts{1, 0, 1, 0, 2})));
    write(".codex/archived_sessions/rollout-0.jsonl",
          line(codexTokenCount(nowMs() - 60000, std::nullopt, CodexCounts{1, 0, 2, 0, 3})));
    write(".claude/projects/-p/edge.jsonl",
          line(claudeReply(nowMs() - 16 * 86400000ll, "e", "r", "s", {1000, 0, 0, 0})));
    write(".claude/projects/-p/old.jsonl",
          line(claudeReply(nowMs() - 17 * 86400000ll, "o", "r", "s", {5000, 0, 0, 0})));
    age(".claude/projects/-p/edge.jsonl", 16 * 86400);
    age(".claude/projects/-p/old.jsonl", 17 * 86400);

    UsageHistory history(options());
    const auto stats = history.refreshSync();
    EXPECT_EQ(stats.listed, 5);
    EXPECT_TRUE(history.lastScan().saved);
    const QDateTime longAgo = clock.now().addDays(-30);
    EXPECT_EQ(history.tokens(Provider::claude, longAgo), 1110); // subagents count; 17 days old does not
    EXPECT_EQ(history.tokens(Provider::codex, longAgo), 5);

    // A second instance starts from the saved cache and reads nothing that has not changed.
    UsageHistory again(options());
    EXPECT_EQ(again.tokens(Provider::claude, longAgo), 1110);
    EXPECT_EQ(again.refreshSync().read, 0);
    EXPECT_FALSE(again.lastScan().saved);
}

TEST_F(UsageHistoryTest, GrowthReadsOnlyTheAddedBytes)
{
    const QString path =
        write(".claude/projects/-p/a.jsonl", line(claudeReply(nowMs(), "m1", "r", "s", {1, 0, 0, 0})));
    UsageHistory(options()).refreshSync();

    UsageHistory history(options()); // the resume point survives the cache file
    const QByteArray added = line(claudeReply(nowMs(), "m2", "r", "s", {2, 0, 0, 0})) +
                             line(claudeReply(nowMs(), "m1", "r", "s", {1, 0, 0, 0}));
    write(".claude/projects/-p/a.jsonl", added, true);
    const auto stats = history.refreshSync();
    EXPECT_EQ(stats.read, 1);
    EXPECT_EQ(stats.bytesRead, added.size());
    EXPECT_EQ(history.tokens(Provider::claude, clock.now()), 3);

    // Changed content with the same size and time stays as cached.
    struct stat before = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    QByteArray same = line(claudeReply(nowMs(), "m1", "r", "s", {1, 0, 0, 0})) + added;
    same.replace("\"input_tokens\":2", "\"input_tokens\":7");
    write(".claude/projects/-p/a.jsonl", same);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    EXPECT_EQ(history.refreshSync().read, 0);
    EXPECT_EQ(history.tokens(Provider::claude, clock.now()), 3);
}

TEST_F(UsageHistoryTest, WatchedRefreshesMatchAFullListing)
{
    const auto transcript = [&](quint32 seed, bool claude) {
        return randomTranscript(seed, claude, 30, nowMs() - 3 * 3600000);
    };
    write(".claude/projects/-p/a.jsonl", transcript(1, true));
    write(".claude/projects/-p/b.jsonl", transcript(2, true));
    write(".codex/sessions/2026/12/06/rollout-1.jsonl", transcript(3, false));
    write("elsewhere/linked.jsonl", transcript(4, true));
    ASSERT_EQ(::symlink(QFile::encodeName(dir.filePath("elsewhere/linked.jsonl")).constData(),
                        QFile::encodeName(dir.filePath(".claude/projects/-p/link.jsonl")).constData()),
              0);

    const auto variant = [&](const char* cache, TranscriptWatch::Limits limits) {
        UsageHistory::Options o = options();
        o.cachePath = dir.filePath(QLatin1StringView(cache));
        o.countInline = true;
        o.watch = limits;
        return o;
    };
    UsageHistory watched(variant("watched", {}));
    // Too many changes at once count as lost events, as an overflowing inotify queue does.
    UsageHistory overflowing(variant("overflowing", {.maxChanges = 1}));
    UsageHistory unwatchable(variant("unwatchable", {.maxFolders = 0}));
    for (UsageHistory* history : {&watched, &overflowing, &unwatchable})
        EXPECT_TRUE(history->refreshSync().fullListing);

    struct Step
    {
        const char* name;
        std::function<void()> change;
        bool relists;           // even the watched history has to list everything
        bool overflows = false; // more than one file reported
    };
    const std::vector<Step> steps{
        {"files grow",
         [&] {
             write(".claude/projects/-p/a.jsonl", transcript(5, true), true);
             write(".claude/projects/-p/b.jsonl", transcript(10, true), true);
         },
         false, true},
        {"new files in new folders",
         [&] {
             write(".codex/sessions/2026/12/07/rollout-2.jsonl", transcript(6, false));
             write(".claude/projects/-q/s/subagents/agent-1.jsonl", transcript(7, true));
         },
         false},
        {"a linked file's target grows", [&] { write("elsewhere/linked.jsonl", transcript(8, true), true); },
         false},
        {"a file is deleted", [&] { QFile::remove(dir.filePath(".claude/projects/-p/b.jsonl")); }, false},
        {"files are renamed and archived",
         [&] {
             QFile::rename(dir.filePath(".claude/projects/-p/a.jsonl"),
                           dir.filePath(".claude/projects/-p/c.jsonl"));
             QDir().mkpath(dir.filePath(".codex/archived_sessions"));
             QFile::rename(dir.filePath(".codex/sessions/2026/12/06/rollout-1.jsonl"),
                           dir.filePath(".codex/archived_sessions/rollout-1.jsonl"));
         },
         true}, // archived_sessions did not exist: a root appearing is found by a listing
        {"a file leaves the lookback", [&] { age(".claude/projects/-p/c.jsonl", 17 * 86400); }, false},
        {"a folder is renamed",
         [&] {
             ASSERT_TRUE(
                 QDir(dir.filePath(".claude/projects")).rename(QStringLiteral("-q"), QStringLiteral("-r")));
         },
         true},
        {"a file in a renamed folder grows",
         [&] { write(".claude/projects/-r/s/subagents/agent-1.jsonl", transcript(9, true), true); }, false},
    };
    int minute = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        UsageHistory::Options reference = options();
        reference.cachePath = dir.filePath(QStringLiteral("reference"));
        reference.countInline = true;
        reference.watch.enabled = false;
        UsageHistory listed(reference);
        EXPECT_TRUE(listed.refreshSync().fullListing);
        const QDateTime since = clock.now().addSecs(-4 * 3600 + 60 * ++minute); // a new count each step
        for (UsageHistory* history : {&watched, &overflowing, &unwatchable}) {
            const auto stats = history->refreshSync();
            EXPECT_EQ(*history->totals(), *listed.totals());
            EXPECT_EQ(history->countedClaudeTokens(since), listed.countedClaudeTokens(since));
            EXPECT_EQ(stats.listed, listed.lastScan().listed);
            if (history == &watched) {
                EXPECT_EQ(stats.fullListing, step.relists);
                EXPECT_TRUE(step.relists || stats.statted <= 3); // the reported files and the link
            }
            if (history == &overflowing) {
                EXPECT_EQ(stats.fullListing, step.relists || step.overflows);
            }
            if (history == &unwatchable) {
                EXPECT_TRUE(stats.fullListing);
            }
        }
    }
    EXPECT_GT(watched.tokens(Provider::claude, clock.now().addDays(-1)), 0);
    EXPECT_GT(watched.tokens(Provider::codex, clock.now().addDays(-1)), 0);
    EXPECT_FALSE(watched.refreshSync().fullListing);
    clock.advance(600); // and a listing every ten minutes whatever the watch says
    EXPECT_TRUE(watched.refreshSync().fullListing);
}

TEST_F(UsageHistoryTest, TheCacheIsSavedAfterTheAnswerGoesOut)
{
    write(".claude/projects/-p/a.jsonl", line(claudeReply(nowMs(), "m", "r", "s", {1, 0, 0, 0})));
    UsageHistory history(options());
    std::optional<bool> savedBeforeCompletion;
    // The fixture runs the completion on the history queue itself, right where it is posted.
    history.refresh([&] { savedBeforeCompletion = QFile::exists(options().cachePath); });
    history.lastScan();                    // the refresh has run and queued the save
    EXPECT_TRUE(history.lastScan().saved); // which ran before this
    EXPECT_EQ(savedBeforeCompletion, std::optional(false));
    EXPECT_EQ(HistoryCache::decode(TestSupport::readFile(options().cachePath)).files.size(), 1u);
}

TEST_F(UsageHistoryTest, ACacheOfAnotherFormatIsRebuiltNotMisread)
{
    const QString transcript =
        write(".claude/projects/-p/a.jsonl", line(claudeReply(nowMs(), "m", "r", "s", {1, 0, 0, 0})));
    UsageHistory(options()).refreshSync(); // the history being destroyed still writes its cache
    const QByteArray good = TestSupport::readFile(options().cachePath);
    QByteArray otherVersion = good;
    otherVersion[4] = static_cast<char>(otherVersion[4] + 1);
    const QByteArray json = "{\"version\":2,\"zone\":\"UTC\",\"files\":{\"" + transcript.toUtf8() +
                            "\":{\"size\":1,\"mtime\":1,\"provider\":\"claude\",\"byDay\":{}}}}";
    // Torn by a crash before it reached the disk: any one byte changed is caught by the checksum.
    for (qsizetype i = 0; i < good.size(); ++i) {
        QByteArray torn = good;
        torn[i] = static_cast<char>(torn[i] ^ 0x20);
        EXPECT_TRUE(HistoryCache::decode(torn).files.empty()) << "byte " << i;
    }
    for (const QByteArray& stored : {otherVersion, good.first(good.size() - 1), good + '\0', json}) {
        SCOPED_TRACE(stored.left(8).toHex().toStdString());
        write("data/usage-history-cache.json", stored);
        ::chmod(QFile::encodeName(options().cachePath).constData(), 0644); // as an older version left it
        UsageHistory history(options());
        EXPECT_EQ(history.tokens(Provider::claude, clock.now().addDays(-1)), 0);
        EXPECT_EQ(history.refreshSync().read, 1);
        EXPECT_EQ(history.tokens(Provider::claude, clock.now().addDays(-1)), 1);
        EXPECT_TRUE(history.lastScan().saved);
        EXPECT_EQ(TestSupport::readFile(options().cachePath), good);
        struct stat info = {};
        ::stat(QFile::encodeName(options().cachePath).constData(), &info);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << "it names the projects worked in";
    }
}

TEST_F(UsageHistoryTest, AChangeOfZoneRecountsTheDays)
{
    // 20:00Z yesterday is today in Kolkata (UTC+5:30).
    const QDateTime today = QDateTime(clock.now().date(), QTime(0, 0), Zone::utc());
    write(".claude/projects/-p/a.jsonl",
          line(claudeReply(today.addSecs(-4 * 3600).toMSecsSinceEpoch(), "m", "r", "s", {1, 0, 0, 0})));
    clock.set(today.addSecs(3600));
    UsageHistory history(options());
    history.refreshSync();
    EXPECT_EQ(history.tokens(Provider::claude, today), 0);
    EXPECT_EQ(history.totals()->zone, QByteArray("UTC"));

    clock.advance(300); // the next save is due
    ZoneGuard kolkata("Asia/Kolkata");
    EXPECT_EQ(history.refreshSync().read, 1);
    EXPECT_EQ(history.totals()->zone, QByteArray("Asia/Kolkata"));
    EXPECT_EQ(history.tokens(Provider::claude, today), 1);
    EXPECT_EQ(history.totals()->of(Provider::claude).hourTokens[1], 1); // 20:00Z is 01:30 there
    history.lastScan();                                                 // the save has run
    EXPECT_EQ(UsageHistory(options()).tokens(Provider::claude, today), 1);
}

TEST_F(UsageHistoryTest, RollingCountAnswersZeroFirstThenFromItsCache)
{
    const QDateTime since = clock.now().addSecs(-3600);
    write(".claude/projects/-p/a.jsonl",
          line(claudeReply(nowMs() - 7200000, "old", "r", "s", {1000, 0, 0, 0})) + // before `since`
              line(claudeReply(nowMs() - 60000, "m", "r", "s", {10, 0, 0, 0})) +
              line(claudeReply(nowMs() - 59000, "m", "r", "s", {10, 0, 0, 0})) + // the same reply again
              line(QJsonObject{{"usage", usageObject({500, 0, 0, 0})}}) +        // no timestamp
              line(claudeReply(nowMs() - 1000, "n", "r", "s", {0, 5, 0, 0})));
    UsageHistory history(options());
    int updates = 0;
    history.setOnCacheUpdated([&] { ++updates; });
    EXPECT_EQ(history.rollingClaudeTokens(since), 0); // provisional, the count runs behind it
    // The queue is serial: the count ran before this question and nothing more was scheduled.
    EXPECT_EQ(history.rollingClaudeTokens(since), 15);
    EXPECT_EQ(announced, 1);

    write(".claude/projects/-p/a.jsonl", line(claudeReply(nowMs(), "p", "r", "s", {100, 0, 0, 0})), true);
    clock.advance(119);
    EXPECT_EQ(history.rollingClaudeTokens(since), 15); // still fresh
    clock.advance(2);
    EXPECT_EQ(history.rollingClaudeTokens(since), 15); // stale: answered once more while recounting
    EXPECT_EQ(history.rollingClaudeTokens(since), 115);
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(updates, 2);
    // A window rolling back from now asks for the next minute: the minute before stands in while it counts;
    // a moment ten minutes off has no stand-in.
    EXPECT_EQ(history.countedClaudeTokens(since.addSecs(60)), 115);
    EXPECT_EQ(history.countedClaudeTokens(since.addSecs(660)), std::nullopt);
}

// Claude Code busy: the transcript grows every minute and every minute brings a count of a new moment.
TEST_F(UsageHistoryTest, TheCacheIsSavedByRefreshesAtMostEveryFiveMinutes)
{
    const QString transcript = ".claude/projects/-p/a.jsonl";
    write(transcript, line(claudeReply(nowMs(), "m0", "r", "s", {1, 0, 0, 0})));
    UsageHistory history(options());
    QList<int> savedAtMinute;
    for (int minute = 0; minute <= 10; ++minute) {
        write(transcript, line(claudeReply(nowMs(), QString::number(minute), "r", "s", {1, 0, 0, 0})), true);
        history.rollingClaudeTokens(clock.now().addSecs(-5 * 3600));
        history.lastScan(); // behind the count, and any save it queued
        if (history.lastScan().saved)
            savedAtMinute.append(minute);
        if (minute % 2 == 0) { // the periodic scan
            history.refreshSync();
            if (history.lastScan().saved)
                savedAtMinute.append(minute);
        }
        clock.advance(60);
    }
    EXPECT_EQ(savedAtMinute, (QList<int>{0, 6}));
    clock.advance(600);
    history.refreshSync();
    EXPECT_TRUE(history.lastScan().saved); // what minutes 7 to 10 held back
    clock.advance(600);
    history.refreshSync();
    EXPECT_FALSE(history.lastScan().saved); // nothing changed since
}

// Claude Code reads its config variable as one folder; so do the credential and the bridge.
TEST(TranscriptFilesTest, ClaudeConfigDirIsOneFolderCommasIncluded)
{
    const struct
    {
        const char* configured;
        QString root;
    } rows[] = {{"/home/u/claude,work", "/home/u/claude,work/projects"},
                {"/home/u/claude/", "/home/u/claude/projects"}};
    for (const auto& row : rows) {
        qputenv("CLAUDE_CONFIG_DIR", row.configured);
        EXPECT_EQ(TranscriptFiles::claudeRoots(), QStringList{row.root}) << row.configured;
    }
    qunsetenv("CLAUDE_CONFIG_DIR");
}

TEST_F(UsageHistoryTest, LatestModelSkipsSubagentsAndSyntheticLines)
{
    write(".claude/projects/-p/main.jsonl",
          line(claudeReply(nowMs() - 5000, "a", "r", "claude-opus-4-1", {1, 0, 0, 0})) +
              line(claudeReply(nowMs() - 4000, "b", "r", "<synthetic>", {0, 0, 0, 0})) +
              line(claudeReply(nowMs() - 3000, "c", "r", "", {1, 0, 0, 0})));
    write(".claude/projects/-p/s/subagents/agent.jsonl",
          line(claudeReply(nowMs(), "d", "r", "claude-haiku-4", {1, 0, 0, 0})));
    UsageHistory history(options());
    auto model = history.latestClaudeModel();
    ASSERT_TRUE(model);
    EXPECT_EQ(model->id, QStringLiteral("claude-opus-4-1"));
    EXPECT_EQ(model->at.toMSecsSinceEpoch(), nowMs() - 5000);

    // Cached for a minute, then the newest file answers.
    write(".claude/projects/-q/newer.jsonl",
          line(claudeReply(nowMs() - 1000, "e", "r", "claude-sonnet-4-5", {1, 0, 0, 0})));
    EXPECT_EQ(history.latestClaudeModel()->id, QStringLiteral("claude-opus-4-1"));
    clock.advance(60);
    EXPECT_EQ(history.latestClaudeModel()->id, QStringLiteral("claude-sonnet-4-5"));
}

TEST_F(UsageHistoryTest, ModelLookupReadsOnlyTheTailInBlocks)
{
    const QByteArray model = line(claudeReply(nowMs(), "m", "r", "claude-opus-4-1", {1, 0, 0, 0}));
    const QByteArray filler = line(claudeUser(nowMs(), QString(1000, QLatin1Char('f'))));
    QByteArray far = model;
    while (far.size() < 5 * 1024 * 1024)
        far += filler;
    EXPECT_FALSE(ModelLookup::tailModel(QFile::encodeName(write("far.jsonl", far))));

    // The newest model line straddles the start of the last 256 KiB block; an older one sits before it.
    const qsizetype block = 256 * 1024;
    const QByteArray older = line(claudeReply(nowMs() - 1000, "o", "r", "claude-haiku-old", {1, 0, 0, 0}));
    const qsizetype tailLength = block - model.size() / 2;
    const QByteArray straddle =
        older + QByteArray(block, 'p') + "\n" + model + QByteArray(tailLength - 1, 'z') + "\n";
    const QString path = write("straddle.jsonl", straddle);
    const qint64 modelStart = straddle.indexOf(model);
    ASSERT_LT(modelStart, straddle.size() - block);
    ASSERT_GT(modelStart + model.size(), straddle.size() - block);
    const auto found = ModelLookup::tailModel(QFile::encodeName(path));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->id, QStringLiteral("claude-opus-4-1"));
}

TEST_F(UsageHistoryTest, ReachingBeforeTheLookbackReadsOlderFilesWithoutCachingThem)
{
    write(".claude/projects/-p/new.jsonl", line(claudeReply(nowMs(), "n", "r", "s", {1, 0, 0, 0})));
    write(".claude/projects/-p/old.jsonl",
          line(claudeReply(nowMs() - 30 * 86400000ll, "o", "r", "s", {4, 0, 0, 0})));
    age(".claude/projects/-p/old.jsonl", 30 * 86400);
    UsageHistory history(options());
    history.refreshSync();
    history.lastScan(); // behind the save
    const QByteArray cached = TestSupport::readFile(options().cachePath);

    const qint64 monthAgo = UsageQueries::dayOf(*history.totals(), clock.now().addDays(-40));
    const auto reported = [&](UsageHistory& from) {
        const UsageTotals report = from.reportSince(monthAgo);
        qint64 sum = 0;
        for (const auto& [day, tokens] : report.of(Provider::claude).dayTokens)
            sum += tokens;
        return sum;
    };
    // After a scan that listed nothing (the watch reported), and in a report whose own scan lists.
    EXPECT_EQ(reported(history), 5);
    UsageHistory command(options());
    EXPECT_EQ(reported(command), 5);
    EXPECT_EQ(history.tokens(Provider::claude, clock.now().addDays(-40)), 1);
    EXPECT_EQ(TestSupport::readFile(options().cachePath), cached);

    // A rolling count reaching that far back reads them too.
    const QDateTime longAgo = clock.now().addDays(-40);
    history.rollingClaudeTokens(longAgo); // provisional
    EXPECT_EQ(history.rollingClaudeTokens(longAgo), 5);
}

TEST_F(UsageHistoryTest, RefreshCompletesOnTheMainThread)
{
    write(".claude/projects/-p/a.jsonl", line(claudeReply(nowMs(), "m", "r", "s", {1, 0, 0, 0})));
    UsageHistory::Options o = options();
    o.postToMain = {}; // the application's own event loop
    UsageHistory history(o);
    bool done = false;
    history.refresh([&] {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        done = true;
    });
    ASSERT_TRUE(TestSupport::waitFor([&] { return done; }));
    EXPECT_EQ(history.tokens(Provider::claude, clock.now()), 1);
}

} // namespace
