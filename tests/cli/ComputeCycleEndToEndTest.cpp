// The whole compute cycle through the real program: transcripts, a snapshot log with status-line and OAuth
// readings, an anchor file and the bridge's meta file in a throwaway home, read by `tallyvane status --json`.
#include "CliProcess.h"
#include "core/text/JsonLines.h"
#include "core/text/Zone.h"
#include "history/ClaudeEstimator.h"
#include "history/TranscriptCorpus.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

using namespace CliTest;

namespace {

const QDateTime kAt(QDate(2026, 5, 12), QTime(14, 0, 0), Zone::utc());

UsageSnapshot claudeReading(WindowKind kind, qint64 ageSeconds, double used, const QString& source,
                            const QDateTime& resetAt, std::optional<QString> effort = std::nullopt)
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, kind, kAt.addSecs(-ageSeconds), used, resetAt);
    s.effortLevel = effort;
    s.source = source;
    return s;
}

using TestSupport::writeFile;

// The forecast of `status --json` with this id; empty when there is none.
QJsonObject forecastIn(const QString& json, const char* id)
{
    for (const QJsonValue& f : QJsonDocument::fromJson(json.toUtf8()).object().value("forecasts").toArray())
        if (f.toObject().value("id") == QLatin1String(id))
            return f.toObject();
    return {};
}

TEST(ComputeCycleEndToEnd, StatusJsonCarriesEstimatesCalibrationAndReports)
{
    Home home;
    // 100,000 tokens at 14:00 on each of the three days before, then 20,000 and 30,000 in the last hours.
    QByteArray transcript;
    const auto reply = [&](qint64 secondsBefore, qint64 tokens, const char* model, int n) {
        transcript += Corpus::line(Corpus::claudeReply(
            kAt.addSecs(-secondsBefore).toMSecsSinceEpoch(), QStringLiteral("msg_%1").arg(n),
            QStringLiteral("req_%1").arg(n), QString::fromLatin1(model), {tokens, 0, 0, 0}));
    };
    reply(3 * 86'400, 100'000, "claude-opus-4-7", 1);
    reply(2 * 86'400, 100'000, "claude-opus-4-7", 2);
    reply(86'400, 100'000, "claude-opus-4-7", 3);
    reply(2 * 3600, 20'000, "claude-opus-4-7", 4);
    reply(30 * 60, 30'000, "claude-opus-4-8", 5);
    writeFile(home.path() + QStringLiteral("/.claude/projects/-work/session.jsonl"), transcript);

    const QDateTime weekReset = kAt.addDays(3);
    home.writeLog({
        claudeReading(WindowKind::fiveHour, 40 * 60, 10, QStringLiteral("claude.oauth"), kAt.addSecs(3600)),
        claudeReading(WindowKind::sevenDay, 65 * 60, 38, QStringLiteral("claude.statusline"), weekReset,
                      QStringLiteral("high")),
        claudeReading(WindowKind::sevenDay, 5 * 60, 40, QStringLiteral("claude.statusline"), weekReset,
                      QStringLiteral("high")),
    });
    home.writeLog({TestSupport::reading(Provider::codex, WindowKind::fiveHour, kAt.addSecs(-600), 12,
                                        kAt.addSecs(7200))});

    AppSettings settings;
    settings.forecastBasis = ForecastBasis::smart;
    settings.focusAuto = false;
    settings.focusedProvider = Provider::claude;
    settings.focusedWindow = WindowKind::sevenDay;
    home.writeSettings(settings);
    // The five-hour window is anchored at 0.1 % per thousand tokens; the weekly one not at all yet.
    writeFile(home.file(QStringLiteral("claude-anchor.json")),
              ClaudeEstimator::encodeAnchor({ClaudeEstimator::WindowAnchor{30, 0.001, kAt.addSecs(-3600 * 3),
                                                                           300, kAt.addSecs(-3600 * 5)},
                                             std::nullopt}));
    writeFile(home.file(QStringLiteral("claude-meta.json")),
              R"({"modelId":"claude-opus-4-7","modelDisplayName":"Opus 4.7","effortLevel":"high",)"
              R"("thinkingEnabled":true,"capturedAt":"2026-05-12T13:00:00Z"})");

    const QStringList before = home.listing();
    const ProcessResult r = run(home, {QStringLiteral("status"), QStringLiteral("--json"),
                                       QStringLiteral("--at"), QStringLiteral("2026-05-12T14:00:00Z")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Calibration and learning happened in memory only.
    EXPECT_EQ(home.listing(), before);
    const QJsonObject root = QJsonDocument::fromJson(r.out.toUtf8()).object();

    EXPECT_EQ(root.value("claudeCurrent").toObject(), (QJsonObject{{"modelId", "claude-opus-4-8"},
                                                                   {"modelDisplayName", "Opus 4.8"},
                                                                   {"effortLevel", "high"},
                                                                   {"thinkingEnabled", true},
                                                                   {"capturedAt", "2026-05-12T13:00:00Z"}}));
    EXPECT_EQ(root.value("freshness").toObject(),
              (QJsonObject{{"codex", "as of 10m ago"}, {"claude", "live"}}));

    // The weekly window: 40 % of it cost 350,000 tokens; an average active day holds 87,500 of them.
    const QJsonObject calibrated = root.value("calibrated").toObject().value("claude").toObject();
    EXPECT_EQ(calibrated.value("tokensThisWindow").toInteger(), 350'000);
    EXPECT_DOUBLE_EQ(calibrated.value("avgDailyTokens").toDouble(), 87'500);
    EXPECT_NEAR(calibrated.value("dailyBurnPercent").toDouble(), 10, 1e-9);
    EXPECT_NEAR(calibrated.value("projectedUsedAtReset").toDouble(), 70, 1e-6);
    EXPECT_DOUBLE_EQ(calibrated.value("daysRemaining").toDouble(), 3);
    EXPECT_NEAR(calibrated.value("daysOfHeadroom").toDouble(), 6, 1e-9);
    EXPECT_EQ(calibrated.value("activeDays").toInteger(), 4);
    EXPECT_FALSE(root.value("calibrated").toObject().contains("codex"));
    EXPECT_EQ(root.value("headroom").toObject(),
              (QJsonObject{{"claude", "~6.0 days of your usual usage left"}}));

    // Five hours of transcripts (50,000 tokens) at the anchored rate; the OAuth reading is 40 minutes old.
    EXPECT_DOUBLE_EQ(forecastIn(r.out, "claude-fiveHour").value("currentUsedPercent").toDouble(), 50);
    const QJsonObject weekly = forecastIn(r.out, "claude-sevenDay");
    EXPECT_EQ(weekly.value("humanSummary").toString(), "From your usage history: ~70% used by reset (est.).");
    EXPECT_EQ(weekly.value("confidence").toString(), "medium");
    EXPECT_EQ(weekly.value("status").toString(), "safe");

    // Opus input at $15 a million, in dollars as `usage` counts it.
    EXPECT_EQ(root.value("spendThisWeek").toObject(),
              (QJsonObject{{"codex", "$0.00"}, {"claude", "$5.25"}, {"total", "$5.25"}}));
    EXPECT_EQ(root.value("peakHours").toString(), "11:00\u201315:00");
    const QJsonObject scenarios = root.value("scenarios").toObject();
    EXPECT_EQ(scenarios.value("provider").toString(), "claude");
    EXPECT_EQ(scenarios.value("windowKind").toString(), "sevenDay");
    const QJsonArray items = scenarios.value("items").toArray();
    ASSERT_FALSE(items.isEmpty());
    // What each what-if assumes goes with it.
    EXPECT_EQ(items[0].toObject().value("assumptions"),
              QJsonArray({"Estimate based on conservative default multipliers."}));

    // The text report's other lines are StatusCommandTest's; the headroom line shows only here.
    const ProcessResult text =
        run(home, {QStringLiteral("status"), QStringLiteral("--at"), QStringLiteral("2026-05-12T14:00:00Z")});
    EXPECT_TRUE(text.out.contains("Headroom: Claude Code ~6.0 days of your usual usage left\n"))
        << text.out.toStdString();

    // The self-test passes here, and fails once the settings cannot be read.
    ProcessResult self = run(home, {QStringLiteral("--selftest")});
    EXPECT_EQ(self.exitCode, 0) << self.out.toStdString();
    for (const char* check :
         {"ok    settings:", "ok    snapshot log: 4 snapshots", "note  claude bridge: notInstalled",
          "note  claude credential:", "claude oauth: last status", "ok    history: 1 transcripts"})
        EXPECT_TRUE(self.out.contains(QString::fromUtf8(check))) << check << '\n' << self.out.toStdString();
    writeFile(home.file(QStringLiteral("settings.json")), "{not json");
    self = run(home, {QStringLiteral("--selftest")});
    EXPECT_EQ(self.exitCode, 1);
    EXPECT_TRUE(self.out.contains("FAIL  settings:")) << self.out.toStdString();
}

} // namespace

// One log, every command-line face: the same run-out instant in `status --json` and `status`, counted from
// now, and a model name full of terminal controls reaching neither them nor the CSV export.
TEST(ComputeCycleEndToEnd, EveryFaceCountsToOneRunOutAndPrintsNoControls)
{
    Home home;
    // 20 points an hour up to ten minutes ago, 40 left: the limit two hours from now, the reset in four. (A
    // line drawn from the latest reading would cross 100 % at 15:55.)
    QList<UsageSnapshot> ramp;
    for (int minutes = 70; minutes >= 10; minutes -= 10)
        ramp.append(TestSupport::reading(Provider::codex, WindowKind::fiveHour, kAt.addSecs(-60 * minutes),
                                         60 - (minutes - 10) / 3.0, kAt.addSecs(4 * 3600)));
    home.writeLog(ramp);
    // Another writer's line, as it stands in the log: the decoder must clean it, not the faces.
    UsageSnapshot named = ramp.last();
    named.id = QUuid::createUuid();
    named.modelDisplayName = QStringLiteral("MODEL");
    QByteArray line = JsonLines::encodeLine(named.toJson());
    line.replace("MODEL", R"(GPT\u001b]0;owned\u0007-5.5\u001b[2J\u009b1m)");
    ASSERT_TRUE(TestSupport::appendFile(home.file(QStringLiteral("snapshots.ndjson")), line + '\n'));
    AppSettings settings;
    settings.forecastBasis = ForecastBasis::last1h;
    home.writeSettings(settings);
    const QStringList at{QStringLiteral("--at"), QStringLiteral("2026-05-12T14:00:00Z")};

    const ProcessResult json =
        run(home, QStringList{QStringLiteral("status"), QStringLiteral("--json")} + at);
    const ProcessResult text = run(home, QStringList{QStringLiteral("status")} + at);
    const QString csvPath = home.path() + QStringLiteral("/export.csv");
    const ProcessResult csv = run(home, {QStringLiteral("--export-csv"), csvPath});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();

    const QJsonObject fiveHour = forecastIn(json.out, "codex-fiveHour");
    EXPECT_NEAR(fiveHour.value("estimatedTimeToLimit").toDouble(), 7200, 1);
    EXPECT_EQ(fiveHour.value("runOutAt").toString(), "2026-05-12T16:00:00Z") << "now + the time to limit";
    EXPECT_TRUE(text.out.contains("runs out 16:00 (2h)")) << text.out.toStdString();

    const QByteArray exportedBytes = TestSupport::readFile(csvPath);
    EXPECT_TRUE(exportedBytes.contains("GPT-5.5"));
    for (const QByteArray& out : {json.out.toUtf8(), text.out.toUtf8(), exportedBytes}) {
        EXPECT_FALSE(out.contains('\x1b') || out.contains('\x07') || out.contains("\xc2\x9b") ||
                     out.contains("\\u001b") || out.contains("owned"))
            << out.toStdString();
    }
}

// The clock of `status --json`'s run-out, read in `top` on a real terminal (tmux) and in Claude Code's status
// line as the bridge prints it from the summary a collecting Tallyvane keeps; and 52.4 % used shown as one
// number by the title, waybar, the summary and the bridge. The run-out moves with the clock between the
// runs, so a face may read the minute before or after.
TEST(ComputeCycleEndToEnd, EveryFaceShowsOneFigureAndTheRunOutOfStatusJson)
{
    if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
        GTEST_SKIP() << "tmux is not installed";
    Home home;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<UsageSnapshot> ramp;
    for (int minutes = 70; minutes >= 10; minutes -= 10)
        ramp.append(TestSupport::reading(Provider::claude, WindowKind::fiveHour, now.addSecs(-60 * minutes),
                                         52.4 - (minutes - 10) / 3.0, now.addSecs(4 * 3600)));
    home.writeLog(ramp);
    AppSettings settings;
    settings.hasOnboarded = true;
    settings.menuBarDisplayMode = MenuBarDisplayMode::compact;
    settings.forecastBasis = ForecastBasis::last1h;
    settings.enabledProviders = {Provider::claude};
    home.writeSettings(settings);

    const ProcessResult json = run(home, {QStringLiteral("status"), QStringLiteral("--json")});
    ASSERT_EQ(json.exitCode, 0) << json.err.toStdString();
    const QDateTime runOut =
        JsonLines::parseDate(forecastIn(json.out, "claude-fiveHour").value("runOutAt").toString())
            .value_or(QDateTime());
    ASSERT_TRUE(runOut.isValid()) << json.out.toStdString();
    const ProcessResult waybar = run(home, {QStringLiteral("status"), QStringLiteral("--waybar")});
    const QJsonObject bar = QJsonDocument::fromJson(waybar.out.toUtf8()).object();
    EXPECT_EQ(std::tuple(bar.value("text").toString(), bar.value("percentage").toInt()),
              std::tuple(QString("AI  Cl 48%"), 48))
        << waybar.out.toStdString();
    // The clock may follow a weekday ("Wed 00:02") when the run-out is on another day.
    const auto shows = [&](const QString& text, const QString& before) {
        for (const int seconds : {-60, 0, 60}) {
            const QString clock = runOut.addSecs(seconds).toUTC().toString(QStringLiteral("HH:mm"));
            if (text.contains(QRegularExpression(QRegularExpression::escape(before) + "(\\w+ )?" + clock)))
                return true;
        }
        return false;
    };

    // `top`, only reading, at the README's capture size.
    const QString socket = home.path() + QStringLiteral("/tmux.sock");
    const auto tmux = [&](const QStringList& arguments) {
        return runProgram(QStringLiteral("tmux"), QStringList{"-S", socket, "-f", "/dev/null"} + arguments,
                          {}, 10'000)
            .out;
    };
    QStringList environment;
    const QProcessEnvironment env = home.environment();
    for (const QString& key : env.keys())
        environment.append(key + u'=' + env.value(key));
    tmux(QStringList{"new-session", "-d", "-x", "100", "-y", "30", "env"} + environment +
         QStringList{"LANG=C.UTF-8", "TERM=xterm-256color", binary(), "top", "--no-collect"});
    QString screen;
    const auto showsRunOut = [&] {
        screen = tmux({"capture-pane", "-p"});
        return screen.contains(QLatin1String("runs out"));
    };
    ASSERT_TRUE(TestSupport::waitFor(showsRunOut, 10'000)) << screen.toStdString();
    tmux({"kill-server"});
    EXPECT_TRUE(shows(screen, QStringLiteral("runs out "))) << screen.toStdString();

    // The status line: a collector keeps the summary, the bridge prints its run-out.
    QProcess collector;
    collector.setProcessEnvironment(env);
    collector.start(binary(), {QStringLiteral("--headless")});
    const QString summary = home.file(QStringLiteral("statusline-summary.json"));
    EXPECT_TRUE(TestSupport::waitFor([&] { return QFile::exists(summary); }, 15'000));
    QProcessEnvironment bridgeEnv = env;
    bridgeEnv.insert(QStringLiteral("NO_COLOR"), QStringLiteral("1"));
    // Where the installer deploys it: beside the data it reads.
    const QString script = home.file(QStringLiteral("tallyvane-claude-statusline-bridge.py"));
    ASSERT_TRUE(QFile::copy(
        QStringLiteral(TALLYVANE_SOURCE_DIR "/resources/tallyvane-claude-statusline-bridge.py"), script));
    const auto statusLine = [&](const QByteArray& input) {
        QProcess bridge;
        bridge.setProcessEnvironment(bridgeEnv);
        bridge.start(QStringLiteral("python3"), {script});
        bridge.write(input);
        bridge.closeWriteChannel();
        bridge.waitForFinished(10'000);
        return QString::fromUtf8(bridge.readAllStandardOutput());
    };
    const QString line = statusLine(R"({"model":{"display_name":"Opus"}})");
    EXPECT_TRUE(shows(line, QStringLiteral("out ~"))) << line.toStdString();
    EXPECT_TRUE(line.contains(QLatin1String("5h 48% left"))) << line.toStdString();
    const QString own = statusLine(R"({"rate_limits":{"five_hour":{"used_percentage":52.4}}})");
    EXPECT_TRUE(own.startsWith(QLatin1String("5h 48% left"))) << own.toStdString();

    // A collector that quits cleanly takes its summary with it: no forecast outlives it.
    collector.terminate();
    EXPECT_TRUE(collector.waitForFinished(10'000));
    EXPECT_FALSE(QFile::exists(summary));
    EXPECT_EQ(statusLine(R"({"model":{"display_name":"Opus"}})"), "Opus\n");
}
