// The status-line bridge installer on real files, and the deployed bridge run by the real python3 through
// sh -c, exactly as Claude Code runs its status-line command.
#include "ClaudeTestSupport.h"
#include "core/text/Zone.h"

#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "providers/claude/ClaudePaths.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"
#include "support/Reading.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <future>

using namespace ClaudeTestSupport;
namespace Installer = ClaudeStatusLineBridgeInstaller;
using State = ClaudeBridgeStatus::State;

namespace {

const QByteArray documented = R"({"session_id":"s1","transcript_path":"/tmp/t.jsonl","cwd":"/tmp",
 "model":{"id":"claude-opus-4-8","display_name":"Opus 4.8"},"workspace":{"current_dir":"/tmp"},
 "version":"2.1.332","cost":{"total_cost_usd":0.01},"context_window":{"total_input_tokens":10},
 "fast_mode":false,"effort":{"level":"high"},"thinking":{"enabled":true},
 "rate_limits":{"five_hour":{"used_percentage":42,"resets_at":1780315200},
                "seven_day":{"used_percentage":17.5,"resets_at":1780826400}}})";
// Whole figures, halves away from zero, as every face shows them.
const QByteArray documentedLine = "Opus 4.8 \u00b7 5h 58% left \u00b7 7d 83% left\n";

QByteArray withUsage(double fiveHour, double sevenDay)
{
    return R"({"rate_limits":{"five_hour":{"used_percentage":)" + QByteArray::number(fiveHour) +
           R"(,"resets_at":1780315200},"seven_day":{"used_percentage":)" + QByteArray::number(sevenDay) +
           R"(,"resets_at":1780826400}}})";
}

struct BridgeRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

class ClaudeBridgeTest : public ::testing::Test
{
protected:
    explicit ClaudeBridgeTest(const QString& dataFolder = "/data")
    {
        environment.set("CLAUDE_CONFIG_DIR", folder.path() + "/claude");
        environment.set("XDG_DATA_HOME", folder.path() + dataFolder);
        // The system's interpreter first: a version manager's shim in front of it costs more than the bridge.
        environment.set("PATH", "/usr/bin:" + qEnvironmentVariable("PATH"));
    }

    QString settingsPath() const { return ClaudePaths::settingsPath(); }
    QString backupPath() const { return settingsPath() + ".tallyvane-backup"; }
    QString data(const QString& name) const { return LocalFileStore::path(name); }
    QList<UsageSnapshot> logged() const
    {
        return SnapshotStore(data("snapshots.ndjson"), SnapshotStore::ReadOnly{}).all();
    }
    QList<QByteArray> logLines() const
    {
        QList<QByteArray> lines = readFile(data("snapshots.ndjson")).split('\n');
        lines.removeAll(QByteArray());
        return lines;
    }

    // As Claude Code runs it: the configured command through sh, the document on stdin.
    BridgeRun runBridge(const QByteArray& input) const
    {
        QProcess process;
        process.start("/bin/sh",
                      {"-c", readObject(settingsPath())["statusLine"].toObject()["command"].toString()});
        process.write(input);
        process.closeWriteChannel();
        BridgeRun run;
        if (process.waitForFinished(30'000) && process.exitStatus() == QProcess::NormalExit)
            run = {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
        return run;
    }

    QTemporaryDir folder;
    ScopedEnvironment environment;
};

} // namespace

TEST_F(ClaudeBridgeTest, InstallWithoutSettingsCreatesThemAndDeploysTheScript)
{
    const Installer::Outcome outcome = Installer::install();

    EXPECT_EQ(outcome.bridgeStatus, (ClaudeBridgeStatus{State::installed, std::nullopt, {}}));
    EXPECT_EQ(outcome.message, "Installed Tallyvane bridge as the Claude status line.");
    const QString script = data("tallyvane-claude-statusline-bridge.py");
    EXPECT_EQ(modeOf(script), 0600); // run through python3, read by nobody else
    EXPECT_EQ(readFile(script), readFile(QString(Installer::resourcePath)));
    EXPECT_EQ(readFile(settingsPath()),
              "{\n  \"statusLine\": {\n    \"type\": \"command\",\n    \"command\": "
              "\"python3 \\\"" +
                  script.toUtf8() + "\\\"\"\n  }\n}\n");
    EXPECT_FALSE(QFile::exists(backupPath())); // nothing to back up
}

// Only the status line's command and type change: every other byte of the settings stays as written, and an
// uninstall gives back the file as it was.
TEST_F(ClaudeBridgeTest, InstallAndUninstallKeepTheRestOfTheSettingsAsWritten)
{
    struct Case
    {
        QByteArray original;
        QByteArray installed; // CMD stands for the bridge's command
        std::optional<QByteArray> uninstalled = {};
    };
    const QList<Case> cases{
        {R"({
  "model": "opus",
  "feedbackSurveyState": {
    "lastShownTime": 1780315200123456789
  },
  "statusLine": {
    "type": "command",
    "command": "my-prompt.sh",
    "padding": 0,
    "refreshInterval": 5
  },
  "alwaysThinkingEnabled": true
}
)",
         R"({
  "model": "opus",
  "feedbackSurveyState": {
    "lastShownTime": 1780315200123456789
  },
  "statusLine": {
    "type": "command",
    "command": CMD,
    "padding": 0,
    "refreshInterval": 5
  },
  "alwaysThinkingEnabled": true
}
)"},
        {"{\n\t\"zeta\": 1.50,\n\t\"alpha\": [1, 2]\n}",
         "{\n\t\"zeta\": 1.50,\n\t\"alpha\": [1, 2],\n\t\"statusLine\": {\n\t\t\"type\": "
         "\"command\",\n\t\t\"command\": "
         "CMD\n\t}\n}"},
        {R"({"zeta":1e2,"alpha":{}})",
         R"({"zeta":1e2,"alpha":{},"statusLine":{"type":"command","command":CMD}})"},
        {R"({"statusLine": {"command": "x", "padding": 2}})",
         R"({"statusLine": {"command": CMD, "padding": 2, "type": "command"}})"},
        {"", "{\n  \"statusLine\": {\n    \"type\": \"command\",\n    \"command\": CMD\n  }\n}\n", "{}\n"},
    };
    for (const Case& c : cases) {
        writeFile(settingsPath(), c.original);
        QFile::remove(data("claude-prev-statusline.json"));
        ASSERT_NE(Installer::install().bridgeStatus.state, State::error) << c.original.constData();
        const QByteArray command =
            QJsonDocument(QJsonArray{Installer::commandFor(Installer::deployedScriptPath())})
                .toJson(QJsonDocument::Compact);
        const QByteArray quoted = command.sliced(1, command.size() - 2);
        EXPECT_EQ(QString(readFile(settingsPath())), QString(QByteArray(c.installed).replace("CMD", quoted)));
        EXPECT_EQ(Installer::uninstall().bridgeStatus.state, State::notInstalled);
        EXPECT_EQ(QString(readFile(settingsPath())), QString(c.uninstalled.value_or(c.original)));
    }
}

TEST_F(ClaudeBridgeTest, WrapsAnExistingStatusLineAndRestoresItOnUninstall)
{
    const QByteArray original =
        R"({"model":"opus","statusLine":{"type":"command","command":"my-prompt.sh","padding":2}})";
    writeFile(settingsPath(), original);
    const ClaudeBridgeStatus wrapping{State::wrapping, QString("my-prompt.sh"), {}};

    const Installer::Outcome installed = Installer::install();
    EXPECT_EQ(installed.bridgeStatus, wrapping);
    EXPECT_EQ(installed.message, "Installed Tallyvane bridge wrapping your existing status line.");
    EXPECT_EQ(readObject(data("claude-prev-statusline.json"))["command"], "my-prompt.sh");
    EXPECT_EQ(readFile(backupPath()), original);
    EXPECT_EQ(Installer::currentStatus(), wrapping);
    const Installer::Outcome again = Installer::install(); // over the bridge: the record stays, and says so
    EXPECT_EQ(std::tuple(again.bridgeStatus, again.message), std::tuple(wrapping, installed.message));
    EXPECT_EQ(Installer::currentStatus(), wrapping);

    const Installer::Outcome removed = Installer::uninstall();
    EXPECT_EQ(removed.bridgeStatus.state, State::notInstalled);
    EXPECT_EQ(removed.message, "Removed bridge and restored your previous status line.");
    EXPECT_EQ(readFile(settingsPath()), original);
    EXPECT_FALSE(QFile::exists(data("claude-prev-statusline.json")));

    // Someone else's status line is left alone by an uninstall.
    const QByteArray before = readFile(settingsPath());
    EXPECT_EQ(Installer::uninstall().bridgeStatus,
              (ClaudeBridgeStatus{State::foreign, QString("my-prompt.sh"), {}}));
    EXPECT_EQ(readFile(settingsPath()), before);

    // Without a recorded command, uninstall removes the status line entirely.
    Installer::install();
    QFile::remove(data("claude-prev-statusline.json"));
    EXPECT_EQ(Installer::uninstall().message, "Removed the Tallyvane status line.");
    EXPECT_EQ(readFile(settingsPath()), R"({"model":"opus"})");
    QFile::remove(settingsPath());
    EXPECT_EQ(Installer::uninstall().message, "No Claude settings found; nothing to uninstall.");
}

// Every watched account folder gets the bridge around its own status line, and gets that line back.
TEST_F(ClaudeBridgeTest, EveryAccountFolderWrapsAndGetsBackItsOwnStatusLine)
{
    environment.set("HOME", folder.path());
    const QString work = folder.path() + "/.claude-work";
    writeFile(work + "/.credentials.json", "{}");
    const QByteArray workSettings = R"({"statusLine":{"type":"command","command":"echo work line"}})";
    writeFile(work + "/settings.json", workSettings);
    writeFile(settingsPath(), R"({"model":"opus"})");

    const Installer::Outcome installed = Installer::install();
    EXPECT_EQ(std::tuple(installed.bridgeStatus.state, installed.failed),
              std::tuple(State::installed, false));
    EXPECT_EQ(installed.message,
              "~/claude: Installed Tallyvane bridge as the Claude status line.\n"
              "~/.claude-work: Installed Tallyvane bridge wrapping your existing status line.");
    EXPECT_EQ(runBridge(documented).out, documentedLine);
    const QString defaultFolder = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    environment.set("CLAUDE_CONFIG_DIR", work);
    EXPECT_TRUE(readFile(settingsPath()).contains(Installer::marker.data()));
    EXPECT_EQ(runBridge(documented).out, "work line\n");

    environment.set("CLAUDE_CONFIG_DIR", defaultFolder);
    EXPECT_FALSE(Installer::uninstall().failed);
    EXPECT_EQ(readFile(work + "/settings.json"), workSettings);
    EXPECT_EQ(readFile(settingsPath()), R"({"model":"opus"})");
}

// The user removed the status line by hand: the command recorded before is stale, and neither action uses it.
TEST_F(ClaudeBridgeTest, AStaleRecordedCommandIsClearedNotUsed)
{
    const QString record = data("claude-prev-statusline.json");
    writeFile(settingsPath(), R"({"model":"opus"})");
    writeFile(record, R"({"command":"my-prompt.sh"})");
    EXPECT_EQ(Installer::uninstall().message, "Removed the Tallyvane status line.");
    EXPECT_EQ(readObject(settingsPath()), (QJsonObject{{"model", "opus"}}));
    EXPECT_FALSE(QFile::exists(record));

    writeFile(record, R"({"command":"my-prompt.sh"})");
    EXPECT_EQ(Installer::install().bridgeStatus, (ClaudeBridgeStatus{State::installed, std::nullopt, {}}));
    EXPECT_EQ(Installer::currentStatus().state, State::installed);
    EXPECT_FALSE(QFile::exists(record));
}

// A settings file we cannot read is never replaced: both actions refuse and write nothing.
TEST_F(ClaudeBridgeTest, UnreadableSettingsAreLeftAlone)
{
    for (const QByteArray& settings : {QByteArray("{\"statusLine\": "), QByteArray("[]")}) {
        writeFile(settingsPath(), settings);
        EXPECT_EQ(Installer::currentStatus().state, State::notInstalled);
        for (const auto& action : {&Installer::install, &Installer::uninstall}) {
            const Installer::Outcome outcome = action();
            EXPECT_EQ(outcome.bridgeStatus.state, State::error);
            EXPECT_EQ(outcome.bridgeStatus.reason, "settings unreadable");
            EXPECT_EQ(outcome.message, "Could not read " + settingsPath() + "; nothing was changed.");
            EXPECT_EQ(readFile(settingsPath()), settings);
        }
        EXPECT_EQ(QDir(folder.path() + "/claude").entryList(QDir::Files | QDir::Hidden),
                  QStringList{"settings.json"});
        EXPECT_FALSE(QFile::exists(data("tallyvane-claude-statusline-bridge.py")));
    }
}

TEST_F(ClaudeBridgeTest, WritesThroughASymlinkKeepingTheMode)
{
    const QString target = folder.path() + "/dotfiles/claude-settings.json";
    writeFile(target, R"({"theme":"dark"})", ownerOnly | QFile::ReadGroup);
    QDir().mkpath(folder.path() + "/claude");
    ASSERT_TRUE(QFile::link(target, settingsPath()));

    EXPECT_EQ(Installer::install().bridgeStatus.state, State::installed);
    EXPECT_TRUE(QFileInfo(settingsPath()).isSymLink());
    EXPECT_EQ(readObject(target)["theme"], "dark");
    EXPECT_TRUE(readObject(target).contains("statusLine"));
    EXPECT_EQ(modeOf(target), 0640);
}

// A failed write leaves the backup and the recorded command as they were.
TEST_F(ClaudeBridgeTest, FailedWriteChangesNothing)
{
    writeFile(settingsPath(),
              R"({"statusLine":{"command":"python3 /x/tallyvane-claude-statusline-bridge.py"}})");
    writeFile(backupPath(), "earlier backup");
    writeFile(data("claude-prev-statusline.json"), R"({"command":"earlier"})");
    UnwritableFolder locked(folder.path() + "/claude");
    SKIP_UNLESS_ENGAGED(locked);

    for (const auto& action : {&Installer::install, &Installer::uninstall}) {
        const Installer::Outcome outcome = action();
        EXPECT_EQ(outcome.bridgeStatus.state, State::error);
        EXPECT_EQ(outcome.bridgeStatus.reason, "write failed");
        EXPECT_EQ(outcome.message, "Failed to write " + settingsPath() + ".");
    }
    EXPECT_EQ(readFile(backupPath()), "earlier backup");
    EXPECT_EQ(readFile(data("claude-prev-statusline.json")), R"({"command":"earlier"})");
}

// sh reads the command: a data folder with a space, quotes, a dollar sign and a backslash still leads there.
class ClaudeBridgeQuotingTest : public ClaudeBridgeTest
{
protected:
    ClaudeBridgeQuotingTest() : ClaudeBridgeTest(R"(/it's "$HOME" `x` \n)") {}
};

TEST_F(ClaudeBridgeQuotingTest, OddDataFolderStillRuns)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    EXPECT_EQ(runBridge(documented).out, documentedLine);
    EXPECT_EQ(logLines().size(), 2);
}

TEST_F(ClaudeBridgeTest, RecordsBothWindowsAndTheModel)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    writeFile(data("snapshots.ndjson"), "{\"id\":\"a line cut short"); // must not swallow the next line
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const BridgeRun run = runBridge(documented);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, documentedLine);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(logLines().size(), 3); // the cut line, then each window on a line of its own
    const QList<UsageSnapshot> snapshots = logged();
    ASSERT_EQ(snapshots.size(), 2);
    UsageSnapshot expected =
        TestSupport::reading(Provider::claude, WindowKind::fiveHour, snapshots[0].timestamp, 42,
                             QDateTime::fromSecsSinceEpoch(1780315200, Zone::utc()));
    expected.id = snapshots[0].id;
    expected.limitName = "fiveHour";
    expected.modelId = "claude-opus-4-8";
    expected.modelDisplayName = "Opus 4.8";
    expected.effortLevel = "high";
    expected.thinkingEnabled = true;
    expected.source = "claude.statusline";
    EXPECT_EQ(snapshots[0], expected);
    EXPECT_GE(snapshots[0].timestamp, before);
    EXPECT_EQ(std::tuple(snapshots[1].windowKind, snapshots[1].usedPercent, snapshots[1].windowDurationMins),
              std::tuple(WindowKind::sevenDay, 17.5, std::optional(10080.0)));
    // Written the way the app writes its own lines: upper-case id, whole-second dates.
    const QJsonObject line = QJsonDocument::fromJson(logLines()[1]).object();
    EXPECT_EQ(line["id"].toString(), line["id"].toString().toUpper());
    const QRegularExpression wholeSeconds(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$)");
    EXPECT_TRUE(wholeSeconds.match(line["timestamp"].toString()).hasMatch());

    const QJsonObject meta = readObject(data("claude-meta.json"));
    EXPECT_EQ(meta.keys(),
              (QStringList{"capturedAt", "effortLevel", "modelDisplayName", "modelId", "thinkingEnabled"}));
    EXPECT_EQ(meta["modelId"], "claude-opus-4-8");
    EXPECT_TRUE(wholeSeconds.match(meta["capturedAt"].toString()).hasMatch());
    const QByteArray metaBytes = readFile(data("claude-meta.json"));
    ASSERT_TRUE(TestSupport::setModified(data("claude-meta.json"), before.addDays(-1)));
    runBridge(documented); // the same settings leave the file alone
    EXPECT_EQ(QFileInfo(data("claude-meta.json")).lastModified(), before.addDays(-1));
    EXPECT_EQ(readFile(data("claude-meta.json")), metaBytes);
}

// Without the json module's C half the bridge falls back to the module itself, with the same result.
TEST_F(ClaudeBridgeTest, SameLinesWithoutTheJsonAccelerator)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    writeFile(folder.path() + "/shadow/_json.py", "raise ImportError('hidden by the test')\n");
    environment.set("PYTHONPATH", folder.path() + "/shadow");

    EXPECT_EQ(runBridge(documented).out, documentedLine);
    const QList<UsageSnapshot> snapshots = logged();
    ASSERT_EQ(snapshots.size(), 2);
    EXPECT_EQ(snapshots[0].modelDisplayName, "Opus 4.8");
    EXPECT_EQ(snapshots[1].usedPercent, 17.5);
    EXPECT_EQ(readObject(data("claude-meta.json"))["effortLevel"], "high");
    runBridge(documented);
    EXPECT_EQ(logLines().size(), 2);
}

TEST_F(ClaudeBridgeTest, AnyInputStillGivesALineAndExitZero)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    const QByteArray fiveHour = R"("rate_limits":{"five_hour":{"used_percentage":42,"resets_at":1780315200})";
    const QByteArray longName(70'000, 'M');
    const std::pair<QByteArray, QByteArray> rows[] = {
        // Claude Code's texts reach the terminal without its controls.
        {R"({"model":{"display_name":"Haiku\u001b]0;owned\u0007 4.5\u001b[2J\r\u009b1m"}})", "Haiku 4.5\n"},
        {R"({"model":{"id":"claude-haiku-4-5","display_name":"Haiku 4.5"}})", "Haiku 4.5\n"},
        {"not json at all \xff", "Tallyvane\n"},
        {"[1,2,3]", "Tallyvane\n"},
        {"", "Tallyvane\n"},
        {R"({"rate_limits":{"five_hour":{"used_percentage":"50"},"seven_day":[]},"model":"x"})",
         "Tallyvane\n"},
        {R"({"rate_limits":{"five_hour":{"used_percentage":true,"resets_at":1e400}}})", "Tallyvane\n"},
        {R"({"rate_limits":{"five_hour":{"used_percentage":120,"resets_at":"soon"}}})", "5h 0% left\n"},
        // A name past 256 characters is cut where it enters: in the line and in the log, which skips long
        // lines.
        {R"({"model":{"display_name":")" + longName + R"("},)" + fiveHour + "}}",
         longName.first(256) + " \u00b7 5h 58% left\n"},
        // What parses stays: past a bad member, a bad byte, or the cut at 1 MiB.
        {R"({"cost":{"total_cost_usd":NaN},"model":{"display_name":"Opus"},"cwd":"\xff",)"
         R"("rate_limits":{"seven_day":{"used_percentage":17.5,"resets_at":1)" +
             QByteArray(400, '0') + R"(},"five_hour":{"used_percentage":42,"resets_at":1780315200,"x":-}}})",
         "Opus \u00b7 5h 58% left \u00b7 7d 83% left\n"},
        {R"({"model":{"display_name":"Opus"},)" + fiveHour + R"(},"tail":")" + QByteArray(1 << 20, 'x') +
             "\"}",
         "Opus \u00b7 5h 58% left\n"},
    };
    for (const auto& [input, line] : rows) {
        const BridgeRun run = runBridge(input);
        EXPECT_EQ(std::tuple(run.exitCode, run.out, run.err), std::tuple(0, line, QByteArray()))
            << input.constData();
    }
    const QList<UsageSnapshot> snapshots = logged();
    ASSERT_EQ(snapshots.size(), 3);
    EXPECT_EQ(std::tuple(snapshots[0].usedPercent, snapshots[0].resetAt), std::tuple(100.0, std::nullopt));
    EXPECT_EQ(snapshots[1].modelDisplayName, QString(longName.first(256)));
    EXPECT_EQ(std::tuple(snapshots[2].windowKind, snapshots[2].resetAt),
              std::tuple(WindowKind::sevenDay, std::nullopt));
    EXPECT_EQ(readObject(data("claude-meta.json"))["modelDisplayName"], "Opus");

    // Its own files are read without waiting: a FIFO in place of one is not read.
    for (const char* name :
         {"statusline-summary.json", "claude-statusline-state.json", "claude-prev-statusline.json"}) {
        QFile::remove(data(name));
        ASSERT_EQ(::mkfifo(QFile::encodeName(data(name)).constData(), 0600), 0);
        const BridgeRun run = runBridge(documented);
        EXPECT_EQ(std::tuple(run.exitCode, run.out), std::tuple(0, documentedLine)) << name;
        QFile::remove(data(name));
    }
}

// Claude Code runs the command several times a second; only changes (or a five-minute repeat) reach the log.
// Temporary names made of the pid could be planted in advance as links (in a fresh pid namespace the pid is
// 1), and the bridge would write through them.
TEST_F(ClaudeBridgeTest, TemporaryFilesCannotBePlanted)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    const QString victim = folder.path() + "/victim";
    writeFile(victim, "mine");
    for (const char* name : {"claude-meta.json", "claude-statusline-state.json"}) {
        for (int pid = 1; pid <= 3; ++pid)
            QFile::link(victim, data(QStringLiteral("%1.%2.tmp").arg(QLatin1String(name)).arg(pid)));
    }
    QProcess process;
    process.start("unshare", {"-rpf", "python3", Installer::deployedScriptPath()});
    process.write(documented);
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(30'000));
    const QByteArray err = process.readAllStandardError();
    if (process.error() == QProcess::FailedToStart || err.startsWith("unshare:"))
        GTEST_SKIP() << "no private pid namespace here: " << err.constData();
    EXPECT_EQ(process.readAllStandardOutput(), documentedLine);
    EXPECT_EQ(readFile(victim), "mine");
    EXPECT_EQ(readObject(data("claude-meta.json"))["modelId"], "claude-opus-4-8");
    EXPECT_EQ(logged().size(), 2);
}

TEST_F(ClaudeBridgeTest, RepeatedReadingsAreWrittenOnce)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    std::vector<std::future<void>> workers;
    for (int worker = 0; worker < 4; ++worker)
        workers.push_back(std::async(std::launch::async, [this] {
            for (int i = 0; i < 25; ++i)
                EXPECT_EQ(runBridge(documented).exitCode, 0);
        }));
    workers.clear(); // waits for all of them
    EXPECT_EQ(logLines().size(), 2);

    runBridge(withUsage(43, 17.5));
    ASSERT_EQ(logged().size(), 3);
    EXPECT_EQ(logged()[2].usedPercent, 43);

    QJsonObject state = readObject(data("claude-statusline-state.json"));
    for (const QString window : {"fiveHour", "sevenDay"}) {
        QJsonObject entry = state[window].toObject();
        entry["writtenAt"] = entry["writtenAt"].toInteger() - 300;
        state[window] = entry;
    }
    writeFile(data("claude-statusline-state.json"), QJsonDocument(state).toJson());
    runBridge(withUsage(43, 17.5)); // five minutes after the last write: written again
    EXPECT_EQ(logLines().size(), 5);

    // A folder that takes no new state file: the log is still writable, but no reading is appended again
    // and again.
    QFile::remove(data("claude-statusline-state.json"));
    UnwritableFolder locked(LocalFileStore::baseDirectory());
    SKIP_UNLESS_ENGAGED(locked);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(runBridge(withUsage(44, 17.5)).exitCode, 0);
    EXPECT_LE(logLines().size(), 7);
}

// Concurrent bridge runs, the app's own appends and prunes share the log's lock: no line is lost, torn or
// glued to another, and a log left mid-line does not swallow the next reading.
TEST_F(ClaudeBridgeTest, ConcurrentWritersLoseAndGlueNothing)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    writeFile(data("snapshots.ndjson"), "{\"id\":\"half a line");
    SnapshotStore store(data("snapshots.ndjson"));

    std::vector<std::future<BridgeRun>> runs;
    for (int i = 0; i < 20; ++i)
        runs.push_back(std::async(std::launch::async, [this, i] { return runBridge(withUsage(i, 50 + i)); }));
    for (int i = 0; i < 30; ++i) {
        store.append(
            TestSupport::reading(Provider::codex, WindowKind::fiveHour, QDateTime::currentDateTimeUtc(), 0));
        if (i % 10 == 5)
            store.prune(365);
    }
    for (auto& run : runs)
        EXPECT_EQ(run.get().exitCode, 0);

    int claude = 0;
    for (const QByteArray& line : logLines()) {
        if (line.startsWith("{\"id\":\"half a line"))
            continue; // planted by the test; a prune drops it
        const QJsonDocument document = QJsonDocument::fromJson(line);
        ASSERT_TRUE(document.isObject()) << line.constData();
        claude += document["provider"] == "claude" ? 1 : 0;
    }
    EXPECT_EQ(claude, 40);
    EXPECT_EQ(logged().size(), 70);
}

TEST_F(ClaudeBridgeTest, WrapsThePreviousCommand)
{
    writeFile(settingsPath(),
              R"({"statusLine":{"command":"cat > \"$SEEN\"; printf 'mine \u00e9 no newline'"}})");
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::wrapping);
    environment.set("SEEN", folder.path() + "/seen.json");

    EXPECT_EQ(runBridge(documented).out, "mine \u00e9 no newline");
    EXPECT_EQ(readFile(folder.path() + "/seen.json"), documented);
    EXPECT_EQ(logLines().size(), 2);

    // A wrapped command that hangs is cut off after five seconds; the bridge's own line stands in.
    writeFile(data("claude-prev-statusline.json"), R"({"command":"sleep 30"})");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(runBridge(documented).out, documentedLine);
    EXPECT_LT(timer.elapsed(), 15'000);
}

// With Tallyvane's summary current, the line carries the forecast; otherwise the bridge's own line stands.
TEST_F(ClaudeBridgeTest, ShowsTheForecastFromACurrentSummary)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    const QByteArray modelOnly = R"({"model":{"id":"claude-opus-4-8","display_name":"Opus 4.8"}})";
    const QByteArray summary =
        R"({"showRemaining":true,"status":"risky","windows":{"claude-fiveHour":{"usedPercent":37,)"
        R"("shown":"63% left","status":"risky","runsOut":"16:40\u0007"},)"
        R"("claude-sevenDay":{"usedPercent":59,"shown":"41% left","status":"safe"}}})";
    const QByteArray coloured =
        "Opus 4.8 \u00b7 \x1b[31m5h 63% left\x1b[0m \u00b7 \x1b[31mout ~16:40\x1b[0m \u00b7 "
        "\x1b[32m7d 41% left\x1b[0m\n";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    struct Case
    {
        const char* name;
        std::optional<QByteArray> summary; // absent: no file
        QDateTime renewed;
        const char* noColor;
        QByteArray input;
        QByteArray expected;
    };
    const QList<Case> cases{
        {"none", {}, now, "", modelOnly, "Opus 4.8\n"},
        {"current", summary, now, "", modelOnly, coloured},
        {"current, NO_COLOR", summary, now, "1", modelOnly,
         "Opus 4.8 \u00b7 5h 63% left \u00b7 out ~16:40 \u00b7 7d 41% left\n"},
        {"not renewed for 11 minutes", summary, now.addSecs(-660), "", modelOnly, "Opus 4.8\n"},
        {"stamped an hour ahead", summary, now.addSecs(3600), "", modelOnly, "Opus 4.8\n"},
        {"past 64 KiB", summary + QByteArray(64 << 10, ' '), now, "", modelOnly, "Opus 4.8\n"},
        {"corrupt", QByteArray(R"({"windows":)"), now, "", modelOnly, "Opus 4.8\n"},
        // Claude Code's own figures win; the run-out still comes from the summary, even one made before
        // this turn's reading (Tallyvane renews it within seconds).
        {"own reading", summary, now.addSecs(-60), "1", documented,
         "Opus 4.8 \u00b7 5h 58% left \u00b7 out ~16:40 \u00b7 7d 83% left\n"},
    };
    for (const Case& c : cases) {
        QFile::remove(data("statusline-summary.json"));
        if (c.summary) {
            writeFile(data("statusline-summary.json"), *c.summary);
            ASSERT_TRUE(TestSupport::setModified(data("statusline-summary.json"), c.renewed));
        }
        environment.set("NO_COLOR", QString::fromLatin1(c.noColor));
        const BridgeRun run = runBridge(c.input);
        EXPECT_EQ(run.out, c.expected) << c.name;
        EXPECT_EQ(run.exitCode, 0) << c.name;
    }
    // Without a summary the plain line follows "Show remaining" too, always with its word.
    QFile::remove(data("statusline-summary.json"));
    writeFile(data("settings.json"), R"({"showRemaining":false})");
    EXPECT_EQ(runBridge(documented).out, "Opus 4.8 \u00b7 5h 42% used \u00b7 7d 18% used\n");
}

// A session run in another watched account's folder names that account, shows its forecast and keys its
// readings by it; a session in the default folder prints and logs as it did before accounts existed.
TEST_F(ClaudeBridgeTest, ASessionInAnotherAccountsFolderIsNamedAndKeyed)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    const QString work = folder.path() + "/claude-work";
    // The work folder runs the same bridge, as Claude Code reads that folder's settings.
    writeFile(work + "/settings.json", readFile(settingsPath()));
    writeFile(data("statusline-summary.json"),
              R"({"showRemaining":true,"status":"safe","windows":{"claude-fiveHour":{"usedPercent":37,)"
              R"("shown":"63% left","status":"safe"}},"accounts":[{"folder":")" +
                  work.toUtf8() +
                  R"(/","key":"bbbb2222","label":"work\u001b[2J","windows":{"claude-fiveHour":)"
                  R"({"usedPercent":90,"shown":"10% left","status":"risky","runsOut":"15:05"}}}]})");
    environment.set("NO_COLOR", "1");

    EXPECT_EQ(runBridge(documented).out, "Opus 4.8 \u00b7 5h 58% left \u00b7 7d 83% left\n");
    environment.set("CLAUDE_CONFIG_DIR", work);
    EXPECT_EQ(runBridge(documented).out,
              "Opus 4.8 \u00b7 work \u00b7 5h 58% left \u00b7 out ~15:05 \u00b7 7d 83% left\n");

    // The same figures once for each account: neither's memory of them holds back the other's readings.
    QList<std::optional<QString>> accounts;
    for (const UsageSnapshot& s : logged())
        accounts.append(s.account.toOptional());
    EXPECT_EQ(accounts, (QList<std::optional<QString>>{std::nullopt, std::nullopt, "bbbb2222", "bbbb2222"}));
    EXPECT_FALSE(logLines()[0].contains("account"));
}
