// The status-line bridge installer on real files, and the deployed bridge run by the real python3 through
// sh -c, exactly as Claude Code runs its status-line command.
#include "ClaudeTestSupport.h"

#include "core/LocalFileStore.h"
#include "core/SnapshotStore.h"
#include "providers/claude/ClaudePaths.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <future>

#include <sys/stat.h>

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

QByteArray withUsage(double fiveHour, double sevenDay)
{
    QJsonObject limits{{"five_hour", QJsonObject{{"used_percentage", fiveHour}, {"resets_at", 1780315200}}},
                       {"seven_day", QJsonObject{{"used_percentage", sevenDay}, {"resets_at", 1780826400}}}};
    return QJsonDocument(
               QJsonObject{{"model", QJsonObject{{"id", "claude-opus-4-8"}}}, {"rate_limits", limits}})
        .toJson(QJsonDocument::Compact);
}

ino_t inodeOf(const QString& path)
{
    struct stat info
    {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
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
    ClaudeBridgeTest() : ClaudeBridgeTest(QString()) {}
    explicit ClaudeBridgeTest(const QString& dataSuffix)
    {
        environment.set("CLAUDE_CONFIG_DIR", folder.path() + "/claude");
        environment.set("XDG_DATA_HOME", folder.path() + "/data" + dataSuffix);
        // The system's interpreter first: a version manager's shim in front of it (pyenv) costs more per run
        // than the bridge itself.
        environment.set("PATH", "/usr/bin:" + qEnvironmentVariable("PATH"));
    }

    QString settingsPath() const { return ClaudePaths::settingsPath(); }
    QString data(const QString& name) const { return LocalFileStore::path(name); }
    QString statusLineCommand() const
    {
        return readObject(settingsPath())["statusLine"].toObject()["command"].toString();
    }
    QStringList logLines() const
    {
        QStringList lines = QString::fromUtf8(readAll(data("snapshots.ndjson"))).split('\n');
        lines.removeAll(QString());
        return lines;
    }
    QList<UsageSnapshot> logged() const
    {
        return SnapshotStore(data("snapshots.ndjson"), SnapshotStore::ReadOnly{}).all();
    }

    // As Claude Code runs it: the configured command through sh, the document on stdin.
    BridgeRun runBridge(const QByteArray& input) const
    {
        QProcess process;
        process.start("/bin/sh", {"-c", statusLineCommand()});
        process.write(input);
        process.closeWriteChannel();
        BridgeRun run;
        if (!process.waitForFinished(30'000)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
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
    EXPECT_EQ(modeOf(script), 0755);
    EXPECT_EQ(readAll(script), readAll(QString(Installer::resourcePath)));
    EXPECT_EQ(readAll(settingsPath()), "{\n    \"statusLine\": {\n        \"command\": \"python3 \\\"" +
                                           script.toUtf8() +
                                           "\\\"\",\n        \"type\": \"command\"\n    }\n}\n");
    EXPECT_EQ(Installer::currentStatus().state, State::installed);
    EXPECT_FALSE(QFile::exists(settingsPath() + ".tallyvane-backup")); // nothing to back up
}

TEST_F(ClaudeBridgeTest, WrapsAnExistingStatusLineAndRestoresItOnUninstall)
{
    const QByteArray original =
        R"({"model":"opus","statusLine":{"type":"command","command":"my-prompt.sh","padding":2},"zeta":[1,2]})";
    writeFile(settingsPath(), original);

    const Installer::Outcome installed = Installer::install();
    EXPECT_EQ(installed.bridgeStatus, (ClaudeBridgeStatus{State::wrapping, QString("my-prompt.sh"), {}}));
    EXPECT_EQ(installed.message, "Installed Tallyvane bridge wrapping your existing status line.");
    EXPECT_EQ(readObject(data("claude-prev-statusline.json")), (QJsonObject{{"command", "my-prompt.sh"}}));
    EXPECT_EQ(readAll(settingsPath() + ".tallyvane-backup"), original);
    QJsonObject settings = readObject(settingsPath());
    EXPECT_EQ(settings["model"], "opus");
    EXPECT_EQ(settings["zeta"].toArray().size(), 2);
    EXPECT_EQ(settings["statusLine"].toObject().keys(), (QStringList{"command", "type"}));
    EXPECT_EQ(Installer::currentStatus(), (ClaudeBridgeStatus{State::wrapping, QString("my-prompt.sh"), {}}));

    // Installing over the bridge keeps the recorded command.
    EXPECT_EQ(Installer::install().bridgeStatus.state, State::installed);
    EXPECT_EQ(Installer::currentStatus().state, State::wrapping);

    const Installer::Outcome removed = Installer::uninstall();
    EXPECT_EQ(removed.bridgeStatus.state, State::notInstalled);
    EXPECT_EQ(removed.message, "Removed bridge and restored your previous status line.");
    settings = readObject(settingsPath());
    EXPECT_EQ(settings["statusLine"].toObject(),
              (QJsonObject{{"type", "command"}, {"command", "my-prompt.sh"}}));
    EXPECT_EQ(settings["model"], "opus");
    EXPECT_FALSE(QFile::exists(data("claude-prev-statusline.json")));
    EXPECT_EQ(Installer::currentStatus(), (ClaudeBridgeStatus{State::foreign, QString("my-prompt.sh"), {}}));

    // Someone else's status line is left alone by an uninstall.
    const QByteArray before = readAll(settingsPath());
    EXPECT_EQ(Installer::uninstall().bridgeStatus.state, State::foreign);
    EXPECT_EQ(readAll(settingsPath()), before);

    // Without a recorded command, uninstall removes the status line entirely.
    Installer::install();
    QFile::remove(data("claude-prev-statusline.json"));
    EXPECT_EQ(Installer::uninstall().message, "Removed the Tallyvane status line.");
    EXPECT_FALSE(readObject(settingsPath()).contains("statusLine"));
    EXPECT_EQ(readObject(settingsPath())["model"], "opus");
}

TEST_F(ClaudeBridgeTest, StatusReadsTheCommandAsItIs)
{
    EXPECT_EQ(Installer::uninstall().message, "No Claude settings found; nothing to uninstall.");
    const QList<std::pair<QByteArray, State>> rows{
        {R"({"statusLine":{"type":"command","command":42}})", State::notInstalled},
        {R"({"statusLine":"python3 tallyvane-claude-statusline-bridge.py"})", State::notInstalled},
        {R"({"statusLine":{"command":"env X=1 python3 '/a b/tallyvane-claude-statusline-bridge.py' -v"}})",
         State::installed},
        {R"({"statusLine":{"command":"starship prompt"}})", State::foreign},
        {R"([1,2])", State::notInstalled},
    };
    for (const auto& [settings, state] : rows) {
        writeFile(settingsPath(), settings);
        EXPECT_EQ(Installer::currentStatus().state, state) << settings.constData();
    }
}

// A settings file we cannot read is never replaced: both actions refuse and write nothing.
TEST_F(ClaudeBridgeTest, UnreadableSettingsAreLeftAlone)
{
    for (const QByteArray& settings : {QByteArray("{\"statusLine\": "), QByteArray("[]"), QByteArray("")}) {
        writeFile(settingsPath(), settings);
        for (const auto& action : {&Installer::install, &Installer::uninstall}) {
            const Installer::Outcome outcome = action();
            EXPECT_EQ(outcome.bridgeStatus.state, State::error);
            EXPECT_EQ(outcome.bridgeStatus.reason, "settings unreadable");
            EXPECT_EQ(outcome.message, "Could not read ~/.claude/settings.json; nothing was changed.");
            EXPECT_EQ(readAll(settingsPath()), settings);
        }
        EXPECT_EQ(QDir(folder.path() + "/claude").entryList(QDir::Files | QDir::Hidden),
                  QStringList{"settings.json"});
        EXPECT_FALSE(QFile::exists(data("tallyvane-claude-statusline-bridge.py")));
    }
}

TEST_F(ClaudeBridgeTest, WritesThroughASymlinkKeepingTheMode)
{
    const QString target = folder.path() + "/dotfiles/claude-settings.json";
    writeFile(target, R"({"theme":"dark"})", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
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
    writeFile(settingsPath() + ".tallyvane-backup", "earlier backup");
    writeFile(data("claude-prev-statusline.json"), R"({"command":"earlier"})");
    UnwritableFolder locked(folder.path() + "/claude");
    if (!locked.engaged())
        GTEST_SKIP() << "this machine cannot make a folder unwritable (no chattr as root)";

    for (const auto& action : {&Installer::install, &Installer::uninstall}) {
        const Installer::Outcome outcome = action();
        EXPECT_EQ(outcome.bridgeStatus.state, State::error);
        EXPECT_EQ(outcome.bridgeStatus.reason, "write failed");
        EXPECT_EQ(outcome.message, "Failed to write ~/.claude/settings.json.");
    }
    EXPECT_EQ(readAll(settingsPath() + ".tallyvane-backup"), "earlier backup");
    EXPECT_EQ(readAll(data("claude-prev-statusline.json")), R"({"command":"earlier"})");
}

// Claude Code reads the command through sh: a data folder with a space, quotes and a dollar sign must
// still lead to the script.
class ClaudeBridgeQuotingTest : public ClaudeBridgeTest
{
protected:
    ClaudeBridgeQuotingTest() : ClaudeBridgeTest(R"(/it's "$HOME" `x` \n)") {}
};

TEST_F(ClaudeBridgeQuotingTest, OddDataFolderStillRuns)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    const BridgeRun run = runBridge(documented);
    EXPECT_EQ(run.exitCode, 0) << run.err.constData();
    EXPECT_EQ(logLines().size(), 2);
    EXPECT_EQ(Installer::commandFor("/plain/path.py"), "python3 \"/plain/path.py\"");
}

TEST_F(ClaudeBridgeTest, RecordsBothWindowsModelAndSettings)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const BridgeRun run = runBridge(documented);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "Opus 4.8 \u00b7 5h 42% \u00b7 7d 17.5%\n");
    EXPECT_EQ(run.err, "");
    const QList<UsageSnapshot> snapshots = logged();
    ASSERT_EQ(snapshots.size(), 2);
    const UsageSnapshot& five = snapshots[0];
    EXPECT_EQ(five.provider, Provider::claude);
    EXPECT_EQ(five.windowKind, WindowKind::fiveHour);
    EXPECT_EQ(five.usedPercent, 42);
    EXPECT_EQ(five.remainingPercent, 58);
    EXPECT_EQ(five.resetAt, QDateTime::fromSecsSinceEpoch(1780315200, Qt::UTC));
    EXPECT_EQ(five.windowDurationMins, 300);
    EXPECT_EQ(five.modelId, "claude-opus-4-8");
    EXPECT_EQ(five.modelDisplayName, "Opus 4.8");
    EXPECT_EQ(five.effortLevel, "high");
    EXPECT_EQ(five.thinkingEnabled, true);
    EXPECT_EQ(five.source, "claude.statusline");
    EXPECT_EQ(five.sourceConfidence, SourceConfidence::high);
    EXPECT_GE(five.timestamp, before);
    EXPECT_EQ(snapshots[1].windowKind, WindowKind::sevenDay);
    EXPECT_EQ(snapshots[1].usedPercent, 17.5);
    EXPECT_EQ(snapshots[1].windowDurationMins, 10080);
    // Written the way the app writes its own lines: upper-case id, whole-second dates.
    const QJsonObject line = QJsonDocument::fromJson(logLines()[0].toUtf8()).object();
    EXPECT_EQ(line["id"].toString(), line["id"].toString().toUpper());
    const QRegularExpression wholeSeconds(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$)");
    EXPECT_TRUE(wholeSeconds.match(line["timestamp"].toString()).hasMatch());
    EXPECT_TRUE(wholeSeconds.match(line["resetAt"].toString()).hasMatch());

    const QJsonObject meta = readObject(data("claude-meta.json"));
    EXPECT_EQ(meta["modelId"], "claude-opus-4-8");
    EXPECT_EQ(meta["modelDisplayName"], "Opus 4.8");
    EXPECT_EQ(meta["effortLevel"], "high");
    EXPECT_EQ(meta["thinkingEnabled"], true);
    EXPECT_TRUE(wholeSeconds.match(meta["capturedAt"].toString()).hasMatch());

    // The same settings again leave the meta file alone.
    const ino_t inode = inodeOf(data("claude-meta.json"));
    runBridge(documented);
    EXPECT_EQ(inodeOf(data("claude-meta.json")), inode);
}

TEST_F(ClaudeBridgeTest, AnyInputStillGivesALineAndExitZero)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    struct Row
    {
        QByteArray input;
        QByteArray line;
    };
    const QList<Row> rows{
        {R"({"model":{"id":"claude-haiku-4-5","display_name":"Haiku 4.5"}})", "Haiku 4.5\n"},
        {"not json at all \xff", "Tallyvane\n"},
        {"[1,2,3]", "Tallyvane\n"},
        {"", "Tallyvane\n"},
        {R"({"rate_limits":{"five_hour":{"used_percentage":"50"},"seven_day":[]},"model":"x"})",
         "Tallyvane\n"},
        {R"({"rate_limits":{"five_hour":{"used_percentage":true,"resets_at":1e400}}})", "Tallyvane\n"},
        {R"({"rate_limits":{"five_hour":{"used_percentage":120,"resets_at":"soon"}}})", "5h 100%\n"},
    };
    for (const Row& row : rows) {
        const BridgeRun run = runBridge(row.input);
        EXPECT_EQ(run.exitCode, 0) << row.input.constData();
        EXPECT_EQ(run.out, row.line) << row.input.constData();
        EXPECT_EQ(run.err, "") << row.input.constData();
    }
    const QList<UsageSnapshot> snapshots = logged();
    ASSERT_EQ(snapshots.size(), 1);
    EXPECT_EQ(snapshots[0].usedPercent, 100);
    EXPECT_EQ(snapshots[0].resetAt, std::nullopt);
    EXPECT_EQ(readObject(data("claude-meta.json"))["modelDisplayName"], "Haiku 4.5");
}

// Claude Code runs the command several times a second; only changes (or a five-minute repeat) reach the log.
TEST_F(ClaudeBridgeTest, RepeatedReadingsAreWrittenOnce)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    std::vector<std::future<void>> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.push_back(std::async(std::launch::async, [this] {
            for (int i = 0; i < 25; ++i)
                EXPECT_EQ(runBridge(documented).exitCode, 0);
        }));
    }
    for (auto& worker : workers)
        worker.get();
    EXPECT_EQ(logLines().size(), 2);

    runBridge(withUsage(43, 17.5));
    const QList<UsageSnapshot> snapshots = logged();
    ASSERT_EQ(snapshots.size(), 3);
    EXPECT_EQ(snapshots[2].windowKind, WindowKind::fiveHour);
    EXPECT_EQ(snapshots[2].usedPercent, 43);

    // Five minutes after the last write the same reading is written again.
    QJsonObject state = readObject(data("claude-statusline-state.json"));
    for (const QString& window : {QStringLiteral("fiveHour"), QStringLiteral("sevenDay")}) {
        QJsonObject entry = state[window].toObject();
        entry["writtenAt"] = entry["writtenAt"].toInteger() - 300;
        state[window] = entry;
    }
    writeFile(data("claude-statusline-state.json"), QJsonDocument(state).toJson());
    runBridge(withUsage(43, 17.5));
    EXPECT_EQ(logLines().size(), 5);
}

// Concurrent bridge runs, the app's own appends and a prune share the log's lock: no line is lost, torn or
// glued to another, and a log left mid-line does not swallow the next reading.
TEST_F(ClaudeBridgeTest, ConcurrentWritersLoseAndGlueNothing)
{
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::installed);
    writeFile(data("snapshots.ndjson"), "{\"id\":\"half a line");
    SnapshotStore store(data("snapshots.ndjson"));

    std::vector<std::future<BridgeRun>> runs;
    for (int i = 0; i < 20; ++i)
        runs.push_back(std::async(std::launch::async, [this, i] { return runBridge(withUsage(i, 50 + i)); }));
    auto app = std::async(std::launch::async, [&] {
        for (int i = 0; i < 30; ++i) {
            UsageSnapshot s;
            s.provider = Provider::codex;
            s.timestamp = QDateTime::currentDateTimeUtc();
            s.windowKind = WindowKind::fiveHour;
            s.source = "codex.app-server";
            store.append(s);
            if (i % 10 == 5)
                store.prune(365);
        }
    });
    for (auto& run : runs)
        EXPECT_EQ(run.get().exitCode, 0);
    app.get();

    const QStringList lines = logLines();
    int claude = 0;
    for (const QString& line : lines) {
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        if (line.startsWith("{\"id\":\"half a line"))
            continue; // the broken line the test planted; a prune drops it
        ASSERT_TRUE(document.isObject()) << line.toStdString();
        claude += document["provider"] == "claude" ? 1 : 0;
    }
    EXPECT_EQ(claude, 40);
    EXPECT_EQ(logged().size(), 70);
}

TEST_F(ClaudeBridgeTest, WrapsThePreviousCommand)
{
    writeFile(
        settingsPath(),
        R"({"statusLine":{"type":"command","command":"cat > \"$SEEN\"; printf 'mine \u00e9 no newline'"}})");
    ASSERT_EQ(Installer::install().bridgeStatus.state, State::wrapping);
    const QString seen = folder.path() + "/seen.json";
    environment.set("SEEN", seen);

    const BridgeRun run = runBridge(documented);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "mine \u00e9 no newline");
    EXPECT_EQ(readAll(seen), documented);
    EXPECT_EQ(logLines().size(), 2);

    // A wrapped command that hangs is cut off after five seconds; the bridge's own line stands in.
    writeFile(data("claude-prev-statusline.json"), R"({"command":"sleep 30"})");
    QElapsedTimer timer;
    timer.start();
    const BridgeRun slow = runBridge(documented);
    EXPECT_LT(timer.elapsed(), 15'000);
    EXPECT_EQ(slow.out, "Opus 4.8 \u00b7 5h 42% \u00b7 7d 17.5%\n");
}
