#include "CliProcess.h"
#include "core/text/Zone.h"

#include "cli/UsageCommand.h"
#include "history/HistoryCache.h"
#include "history/TranscriptCorpus.h"
#include "providers/AccountFolders.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

using namespace CliTest;
using namespace Corpus;

namespace {

void put(const Home& home, const QString& relative, const QByteArray& bytes)
{
    ASSERT_TRUE(TestSupport::writeFile(home.path() + QLatin1Char('/') + relative, bytes));
}

QDate todayInKolkata()
{
    return QDateTime::currentDateTimeUtc().toTimeZone(QTimeZone("Asia/Kolkata")).date();
}

// 23:30 UTC the day before Kolkata's today, which is 05:00 today there: three blocks of one reply, a second
// reply, and a Codex event written twice.
void writeTranscripts(const Home& home)
{
    const qint64 at = QDateTime(todayInKolkata().addDays(-1), QTime(23, 30), Zone::utc()).toMSecsSinceEpoch();
    const ClaudeUsage usage{100, 50, 1000, 200};
    put(home, QStringLiteral(".claude/projects/-home-user-p/s1.jsonl"),
        line(claudeUser(at - 1000, QStringLiteral("hello"))) +
            line(claudeReply(at, "msg_1", "req_1", "claude-sonnet-4-5", usage, "thinking")) +
            line(claudeReply(at, "msg_1", "req_1", "claude-sonnet-4-5", usage, "text")) +
            line(claudeReply(at, "msg_1", "req_1", "claude-sonnet-4-5", usage, "tool use")) +
            line(claudeReply(at + 5000, "msg_2", "req_2", "claude-opus-4-1", usage)));
    const CodexCounts counts{1000, 800, 100, 50, 1100};
    put(home, QStringLiteral(".codex/sessions/2026/01/01/rollout-a.jsonl"),
        line(codexMeta(at)) + line(codexTokenCount(at, std::nullopt, std::nullopt)) +
            line(codexTokenCount(at + 10, counts, counts)) + line(codexTokenCount(at + 11, counts, counts)));
}

namespace {

// `usage --json` as a user in Kolkata runs it; empty (and a failure) when it does not exit 0.
QJsonObject usageJsonInKolkata(const Home& home)
{
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Kolkata"));
    const ProcessResult r = runProgram(binary(), {QStringLiteral("usage"), QStringLiteral("--json")}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

} // namespace

TEST(UsageCommand, JsonReportCountsEachReplyOnceOnLocalDays)
{
    Home home;
    writeTranscripts(home);
    const QJsonObject root = usageJsonInKolkata(home);

    const QString today = todayInKolkata().toString(Qt::ISODate);
    EXPECT_EQ(root.value("timeZone").toString(), QStringLiteral("Asia/Kolkata"));
    EXPECT_EQ(root.value("until").toString(), today);
    const QJsonArray days = root.value("days").toArray();
    ASSERT_EQ(days.size(), 2);
    // Sonnet 0.0021 + Opus 0.0105 for 2 × 1350 tokens; Codex 1100 tokens at 0.00135.
    EXPECT_EQ(days[0].toObject(),
              (QJsonObject{{"date", today}, {"provider", "codex"}, {"tokens", 1100}, {"costUSD", 0.00135}}));
    EXPECT_EQ(days[1].toObject(),
              (QJsonObject{{"date", today}, {"provider", "claude"}, {"tokens", 2700}, {"costUSD", 0.0126}}));
    EXPECT_EQ(root.value("tokens").toInteger(), 3800);
    EXPECT_DOUBLE_EQ(root.value("costUSD").toDouble(), 0.01395);

    // It wrote the history cache and nothing else.
    QStringList written = home.listing().filter(home.dataFolder());
    EXPECT_EQ(written.size(), 2) << written.join('\n').toStdString(); // the folder and the cache
}

TEST(UsageCommand, EachAccountsTranscriptsAreItsOwnRowsAndTwoFoldersOfOneAccountAreSummed)
{
    Home home;
    writeTranscripts(home);
    const QByteArray signedIn = R"({"oauthAccount":{"accountUuid":"uuid-work"}})";
    const qint64 at = QDateTime(todayInKolkata(), QTime(1, 0), Zone::utc()).toMSecsSinceEpoch();
    // ~/.claude-work found by itself and ~/team added, both signed in to the work account.
    for (const QString& folder : {QStringLiteral(".claude-work"), QStringLiteral("team")}) {
        put(home, folder + "/.credentials.json", "{}");
        put(home, folder + "/.claude.json", signedIn);
        put(home, folder + "/projects/-p/s.jsonl",
            line(claudeReply(at, "msg_" + folder, "req_1", "claude-sonnet-4-5", {1000, 0, 0, 0})));
    }
    ASSERT_TRUE(
        TestSupport::writeFile(home.file("accounts.json"),
                               QStringLiteral(R"({"accounts":[{"provider":"claude","folder":"%1/team"}]})")
                                   .arg(home.path())
                                   .toUtf8(),
                               QFile::ReadOwner | QFile::WriteOwner));
    const QJsonObject root = usageJsonInKolkata(home);

    const QString today = todayInKolkata().toString(Qt::ISODate);
    const QString work = AccountFolders::key(Provider::claude, QStringLiteral("uuid-work"));
    const QJsonArray days = root.value("days").toArray();
    ASSERT_EQ(days.size(), 3) << QJsonDocument(root).toJson().toStdString();
    // The default account's row is as it was without the others.
    EXPECT_EQ(days[1].toObject(),
              (QJsonObject{{"date", today}, {"provider", "claude"}, {"tokens", 2700}, {"costUSD", 0.0126}}));
    EXPECT_EQ(days[2].toObject(), (QJsonObject{{"date", today},
                                               {"provider", "claude"},
                                               {"account", work},
                                               {"tokens", 2000},
                                               {"costUSD", 0.006}}));
    const QJsonArray totals = root.value("totals").toArray();
    ASSERT_EQ(totals.size(), 3);
    EXPECT_EQ(totals[2].toObject().value("account").toString(), work);
    EXPECT_FALSE(totals[1].toObject().contains("account"));
    EXPECT_EQ(root.value("tokens").toInteger(), 5800);
}

TEST(UsageCommand, TextHourlyAndProviderFilter)
{
    Home home;
    writeTranscripts(home);
    const auto hourly = run(home, {QStringLiteral("usage"), QStringLiteral("--hourly"),
                                   QStringLiteral("--provider"), QStringLiteral("claude")});
    ASSERT_EQ(hourly.exitCode, 0);
    EXPECT_TRUE(hourly.out.contains(QRegularExpression(QStringLiteral("\\n23:00 +2,700\\n"))))
        << hourly.out.toStdString();
    EXPECT_FALSE(hourly.out.contains(QStringLiteral("Codex")));

    const auto daily = run(home, {QStringLiteral("usage")});
    EXPECT_TRUE(daily.out.contains(QRegularExpression(QStringLiteral("Total +Claude Code +2,700 +0.01\\n"))))
        << daily.out.toStdString();
    EXPECT_TRUE(daily.out.contains(QRegularExpression(QStringLiteral("Total +3,800 +0.01\\n"))));
}

// Refused options: the in-process command-line table (StatusCommandTest).
TEST(UsageCommand, TwoProcessesAtOnceLeaveAWholeCache)
{
    Home home;
    writeTranscripts(home);
    for (int round = 0; round < 4; ++round) {
        put(home, QStringLiteral(".claude/projects/-home-user-p/s%1.jsonl").arg(round + 2),
            randomTranscript(round + 1, true, 300, QDateTime::currentMSecsSinceEpoch() - 86400000));
        QProcess first, second;
        for (QProcess* p : {&first, &second}) {
            p->setProcessEnvironment(home.environment());
            p->start(binary(), {QStringLiteral("usage"), QStringLiteral("--json")});
        }
        ASSERT_TRUE(first.waitForFinished(30000) && second.waitForFinished(30000));
        EXPECT_EQ(first.exitCode(), 0);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(first.readAllStandardOutput(), second.readAllStandardOutput());
        const QByteArray cache = TestSupport::readFile(home.file(QStringLiteral("usage-history-cache.json")));
        EXPECT_EQ(HistoryCache::decode(cache).files.size(), static_cast<std::size_t>(round + 3));
    }
}

TEST(UsageCommand, UsageTestPrintsTheHistoryAnswers)
{
    Home home;
    writeTranscripts(home);
    const auto result = run(home, {QStringLiteral("--usagetest")});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains(QStringLiteral("usage history: 2 transcript files, 2 read")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("claude last 7 days: 2,700 tokens, $0.01")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("codex last 7 days: 1,100 tokens, $0.00")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("peak 4-hour span: 20:00–24:00")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("latest Claude model: claude-opus-4-1 at ")));
}

TEST(UsageCommand, FixedNumberForms)
{
    EXPECT_EQ(UsageCommand::grouped(0), QStringLiteral("0"));
    EXPECT_EQ(UsageCommand::grouped(-1234567), QStringLiteral("-1,234,567"));
    EXPECT_EQ(UsageCommand::grouped(999), QStringLiteral("999"));
    EXPECT_EQ(UsageCommand::cents(0.125),
              QStringLiteral("0.12")); // to_chars rounds half to even on the binary value
    EXPECT_EQ(UsageCommand::cents(1234.5678), QStringLiteral("1234.57"));
}

} // namespace
