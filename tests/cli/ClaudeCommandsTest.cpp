// The Claude diagnostics of the real executable, with the OAuth endpoints on a loopback server.
#include "CliProcess.h"
#include "core/text/Zone.h"

#include "providers/ClaudeTestSupport.h"
#include "providers/LoopbackHttpServer.h"

#include <gtest/gtest.h>

using namespace ClaudeTestSupport;

namespace {

QProcessEnvironment claudeEnvironment(const CliTest::Home& home, const LoopbackHttpServer& server)
{
    QProcessEnvironment env = home.environment();
    env.insert("TALLYVANE_CLAUDE_API_URL", QString::fromLatin1(server.base()));
    env.insert("TALLYVANE_CLAUDE_TOKEN_URLS", QString::fromLatin1(server.url("/v1/oauth/token")));
    env.insert("TALLYVANE_CLAUDE_USER_AGENT", "claude-code/2.1.332");
    return env;
}

CliTest::ProcessResult runWith(const QProcessEnvironment& environment, const QStringList& arguments,
                               const QString& workingDirectory = {})
{
    return CliTest::runProgram(CliTest::binary(), arguments, environment, 30'000, workingDirectory);
}

} // namespace

TEST(ClaudeCommandsTest, OAuthTestRefreshesFetchesAndPrintsWithoutStoringAnything)
{
    CliTest::Home home;
    LoopbackHttpServer server;
    const QString credentials = home.path() + "/.claude/.credentials.json";
    const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(30);
    writeFile(credentials, credentialDocument("old", "refresh-1", soon), ownerOnly);
    server.answer("/v1/oauth/token", 200,
                  R"({"access_token":"new","refresh_token":"refresh-2","expires_in":3600})");
    server.answer("/api/oauth/usage", 200,
                  R"({"five_hour":{"utilization":37.5,"resets_at":"2026-06-01T12:00:00.123456+00:00"},)"
                  R"("seven_day":{"utilization":80},"extra_usage":{"is_enabled":true,"used_credits":1234,)"
                  R"("monthly_limit":5000,"currency":"G\u001b]0;owned\u0007\u001b[2JB\u009bmP\r"}})");

    const auto result = runWith(claudeEnvironment(home, server), {"--oauthtest"});

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QString expires =
        JsonLines::formatDate(QDateTime::fromMSecsSinceEpoch(soon.toMSecsSinceEpoch(), Zone::utc()));
    EXPECT_EQ(result.out,
              "credential: " + credentials + " (expires " + expires +
                  ")\n"
                  "status: ok (2 windows)\n"
                  "fiveHour 37.5% resets 2026-06-01T12:00:00Z\n"
                  "sevenDay 80% resets \u2014\n"
                  "extra usage: on, 12.34 of 50.00 GBP used this month\n"); // the terminal's controls dropped
    ASSERT_EQ(server.received().size(), 2);
    EXPECT_EQ(server.received()[1].header("authorization"), "Bearer new");
    EXPECT_EQ(server.received()[1].header("user-agent"), "claude-code/2.1.332");
    EXPECT_EQ(readObject(credentials)["claudeAiOauth"].toObject()["refreshToken"], "refresh-2");
    EXPECT_TRUE(readFile(home.file("snapshots.ndjson")).isEmpty());

    server.answer("/api/oauth/usage", 401, "{}");
    const auto refused = runWith(claudeEnvironment(home, server), {"--oauthtest"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.endsWith("status: HTTP 401\n")) << refused.out.toStdString();
}

TEST(ClaudeCommandsTest, BridgeInstallUninstallAndBundleTest)
{
    CliTest::Home home;
    const auto bundle = CliTest::run(home, {"--bundletest"});
    EXPECT_EQ(bundle.exitCode, 0);
    EXPECT_TRUE(bundle.out.startsWith("bridge script: present")) << bundle.out.toStdString();

    const auto installed = CliTest::run(home, {"--install-claude-bridge"});
    EXPECT_EQ(installed.exitCode, 0);
    EXPECT_EQ(installed.out, "Installed Tallyvane bridge as the Claude status line.\nstate: installed\n");
    EXPECT_TRUE(QFile::exists(home.file("tallyvane-claude-statusline-bridge.py")));

    const auto removed = CliTest::run(home, {"--uninstall-claude-bridge"});
    EXPECT_EQ(removed.exitCode, 0);
    EXPECT_EQ(removed.out, "Removed the Tallyvane status line.\nstate: notInstalled\n");

    writeFile(home.path() + "/.claude/settings.json", "{ broken");
    const auto refused = CliTest::run(home, {"--install-claude-bridge"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "Could not read ~/.claude/settings.json; nothing was changed.\nstate: error\n");
    EXPECT_EQ(readFile(home.path() + "/.claude/settings.json"), "{ broken");
}

// Claude Code runs the status line in each project it opens: a relative path in it would run the project's
// own script. Relative XDG_DATA_HOME and CLAUDE_CONFIG_DIR are ignored; a relative HOME is taken from where
// we stand.
TEST(ClaudeCommandsTest, TheBridgeCommandNamesTheScriptByItsAbsolutePath)
{
    const std::pair<const char*, const char*> rows[][2] = {
        {{"XDG_DATA_HOME", "data"}, {"CLAUDE_CONFIG_DIR", "claude"}},
        {{"HOME", ".."}, {"XDG_DATA_HOME", ""}},
    };
    for (const auto& row : rows) {
        CliTest::Home home;
        const QString project = home.path() + "/project";
        ASSERT_TRUE(QDir().mkdir(project));
        QProcessEnvironment env = home.environment();
        for (const auto& [name, value] : row)
            env.insert(name, value);
        SCOPED_TRACE(row[0].first);
        EXPECT_EQ(runWith(env, {"--install-claude-bridge"}, project).exitCode, 0);
        const QString script = home.path() + "/.local/share/Tallyvane/tallyvane-claude-statusline-bridge.py";
        EXPECT_TRUE(QFile::exists(script));
        EXPECT_EQ(readObject(home.path() + "/.claude/settings.json")["statusLine"].toObject()["command"],
                  "python3 \"" + script + "\"");
        EXPECT_EQ(QDir(project).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList());
    }
}

// access() does not see a full disk: the refresh went out and its new token had nowhere to go. Claude's
// folder and the data folder share a file system with no room left; nothing may be sent.
TEST(ClaudeCommandsTest, NoRefreshIsSentWhenTheNewTokenCouldNotBeKept)
{
    CliTest::Home home;
    LoopbackHttpServer server;
    const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(30);
    const QString stored = home.path() + "/credentials.json";
    writeFile(stored, credentialDocument("old", "refresh-1", soon), ownerOnly);
    server.answer("/v1/oauth/token", 200,
                  R"({"access_token":"new","refresh_token":"refresh-2","expires_in":3600})");
    const QString disk = home.path() + "/disk";
    QDir().mkpath(disk);
    QProcessEnvironment env = claudeEnvironment(home, server);
    env.insert("CLAUDE_CONFIG_DIR", disk + "/claude");
    env.insert("XDG_DATA_HOME", disk + "/data");
    QProcess process;
    process.setProcessEnvironment(env);
    process.start("unshare", {"-rm", "sh", "-c",
                              // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one shell script in pieces
                              "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 77; mkdir -p \"$1/claude\" "
                              "\"$1/data/Tallyvane/logs\" && cp \"$3\" \"$1/claude/.credentials.json\" && "
                              "{ cat /dev/zero > \"$1/fill\"; true; } 2>/dev/null; \"$2\" --oauthtest; "
                              "echo \"exit $?\"; cat \"$1/claude/.credentials.json\"",
                              "sh", disk, CliTest::binary(), stored});
    ASSERT_TRUE(process.waitForFinished(30'000));
    if (process.exitCode() == 77 || process.error() == QProcess::FailedToStart ||
        process.readAllStandardError().startsWith("unshare:"))
        GTEST_SKIP() << "no private mount namespace here";
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_EQ(server.count("/v1/oauth/token"), 0);
    EXPECT_TRUE(out.contains("status: token expired")) << out.toStdString();
    EXPECT_TRUE(out.contains(QString::fromUtf8(readFile(stored)))) << "the credential is as it was";
    EXPECT_TRUE(out.contains("token refresh held back: " + disk +
                             "/claude/.credentials.json: No space left on device\nexit 1\n"))
        << out.toStdString();
}
