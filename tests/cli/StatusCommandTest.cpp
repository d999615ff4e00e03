#include "cli/StatusCommand.h"
#include "CliProcess.h"
#include "cli/CommandLine.h"
#include "core/text/Zone.h"
#include "history/TranscriptCorpus.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

using namespace CliTest;

namespace {

const QDateTime kAt = QDateTime(QDate(2026, 5, 12), QTime(14, 0, 0), Zone::utc());
const QString kAtText = QStringLiteral("2026-05-12T14:00:00Z");

UsageSnapshot snap(Provider p, WindowKind w, qint64 offsetSeconds, double used, qint64 resetIn)
{
    return TestSupport::reading(p, w, kAt.addSecs(offsetSeconds), used, kAt.addSecs(resetIn));
}

// Codex burns 20 points an hour with two hours to go; Claude 30 an hour with 10 points left and an hour to
// go; one Codex reading lies after the evaluated instant.
void writeScenario(const Home& home)
{
    home.writeLog({
        snap(Provider::codex, WindowKind::fiveHour, -3'600, 10, 7'200),
        snap(Provider::codex, WindowKind::sevenDay, -2 * 86'400, 20, 3 * 86'400),
        snap(Provider::claude, WindowKind::fiveHour, -2'400, 70, 3'600),
        snap(Provider::codex, WindowKind::fiveHour, -1'800, 20, 7'200),
        snap(Provider::claude, WindowKind::fiveHour, -1'200, 80, 3'600),
        snap(Provider::codex, WindowKind::fiveHour, 0, 30, 7'200),
        snap(Provider::codex, WindowKind::sevenDay, 0, 50, 3 * 86'400),
        snap(Provider::claude, WindowKind::fiveHour, 0, 90, 3'600),
        snap(Provider::codex, WindowKind::fiveHour, 600, 95, 7'200),
    });
    AppSettings settings;
    settings.menuBarDisplayMode = MenuBarDisplayMode::forecast;
    settings.showRemaining = false;
    home.writeSettings(settings);
}

// The text report words each window as the panel does, once; a locale that is not UTF-8 reads it in ASCII,
// and a home without a single reading says what brings them.
TEST(StatusCommand, PrintsTheReportAsOfTheGivenInstant)
{
    const struct
    {
        bool withData;
        const char* locale;
        QString out;
    } rows[] = {
        {true, "C.UTF-8",
         QStringLiteral(
             "Title: AI  20m left\n"
             "Status: Limit likely\n"
             "Codex 5h: 30% used · Resets 16:00 today · Safe, low confidence · On track: ~70% used by reset "
             "· "
             "at recent pace\n"
             "Codex 7d: 50% used · Resets Fri 14:00 · Safe, low confidence · Not enough activity to forecast "
             "yet.\n"
             "Claude Code 5h: 90% used · Resets 15:00 today · Limit likely, low confidence · ~120% used by "
             "reset "
             "· at recent pace · runs out 14:20 (20m)\n"
             "Recommendation: Codex is on track: about 50% of your weekly left by reset (est.).\n"
             "Recommendation: Claude Code may hit the 5h limit in ~20m. Save it for complex work.\n"
             "Recommendation: Codex has more headroom right now. Consider it for routine edits.\n"
             "Freshness: Codex live · Claude Code live\n"
             "Spend this week: Codex $0.00 · Claude Code $0.00 · total $0.00\n")},
        {true, "C",
         QStringLiteral(
             "Title: AI  20m left\n"
             "Status: Limit likely\n"
             "Codex 5h: 30% used - Resets 16:00 today - Safe, low confidence - On track: ~70% used by "
             "reset - at recent pace\n")},
        {false, "C",
         QStringLiteral("Title: AI -\n"
                        "Status: No data\n"
                        "No readings yet: use Claude Code or Codex, or start tallyvane (the tray) to collect "
                        "them.\n"
                        "Spend this week: Codex $0.00 - Claude Code $0.00 - total $0.00\n")},
    };
    for (const auto& row : rows) {
        Home home;
        if (row.withData)
            writeScenario(home);
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(row.locale));
        const ProcessResult r = runProgram(binary(), {"status", "--mode", "forecast", "--at", kAtText}, env);
        // Qt 6.8 and later say on standard error that they read a locale that is not UTF-8 as C.UTF-8.
        static const QRegularExpression qtLocaleNote(
            QStringLiteral("^Detected locale .*for more information\\.\n"),
            QRegularExpression::DotMatchesEverythingOption);
        const QString err = QString(r.err).remove(qtLocaleNote);
        EXPECT_EQ(std::tuple(r.exitCode, err), std::tuple(0, QString())) << row.locale;
        // The ASCII rows check the report's start.
        EXPECT_EQ(r.out.left(row.out.size()), row.out) << row.locale;
    }
}

TEST(StatusCommand, OverridesModeAndBasisForOneRunOnly)
{
    Home home;
    writeScenario(home);
    const QByteArray settingsBefore = TestSupport::readFile(home.file(QStringLiteral("settings.json")));
    const ProcessResult r =
        run(home, {QStringLiteral("status"), QStringLiteral("--at"), kAtText, QStringLiteral("--mode"),
                   QStringLiteral("minimal"), QStringLiteral("--basis"), QStringLiteral("sinceWindowStart")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Title: AI 30/90\n"))) << r.out.toStdString();
    // The whole five-hour window so far (started three hours ago at 0 %) is the basis now: 10 points an hour.
    EXPECT_TRUE(
        r.out.contains(QStringLiteral("Codex 5h: 30% used · Resets 16:00 today · Safe, low confidence · "
                                      "On track: ~50% used by reset")))
        << r.out.toStdString();
    EXPECT_EQ(TestSupport::readFile(home.file(QStringLiteral("settings.json"))), settingsBefore);
}

// The keys the README's `status --json` table names, by where they stand: "" the document, "forecasts" each
// forecast, "paces" each provider's pace, "scenarios.items" each what-if. A row's keys are the names outside
// parentheses (inside them stand examples and values), and those of an "(each ...)" belong to the name
// before.
QMap<QString, QSet<QString>> documentedKeys()
{
    const QString readme =
        QString::fromUtf8(TestSupport::readFile(QStringLiteral(TALLYVANE_SOURCE_DIR "/README.md")));
    const QStringList rows = readme.mid(readme.indexOf(QStringLiteral("`--json` keys (stable")))
                                 .section(QStringLiteral("\n\n"), 1, 1)
                                 .split(QLatin1Char('\n'))
                                 .mid(2);
    static const QRegularExpression row(QStringLiteral(R"(^\| `(\w+)` \| (.*) \|$)"));
    static const QRegularExpression token(QStringLiteral(R"(\(each |\(|\)|`([a-z][A-Za-z]*)`)"));
    QMap<QString, QSet<QString>> keys;
    for (const QString& line : rows) {
        const QRegularExpressionMatch cells = row.match(line);
        EXPECT_TRUE(cells.hasMatch()) << line.toStdString();
        const QString key = cells.captured(1);
        keys[QString()].insert(key);
        int depth = 0;
        QString each;
        QString last;
        for (const QRegularExpressionMatch& t : token.globalMatch(cells.captured(2))) {
            if (t.captured(0).startsWith(QLatin1Char('('))) {
                if (++depth == 1 && t.captured(0) == QLatin1String("(each "))
                    each = key + QLatin1Char('.') + last;
            } else if (t.captured(0) == QLatin1String(")")) {
                if (--depth == 0)
                    each.clear();
            } else if (depth == 0) {
                keys[key].insert(last = t.captured(1));
            } else if (!each.isEmpty() && depth == 1) {
                keys[each].insert(t.captured(1));
            }
        }
    }
    return keys;
}

// Every object's keys in the document, by the same places; the objects of a provider count as one.
void collectKeys(const QJsonValue& value, const QString& path, QMap<QString, QSet<QString>>& keys)
{
    for (const QJsonValue& element : value.toArray())
        collectKeys(element, path, keys);
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (path.isEmpty() || (it.key() != QLatin1String("codex") && it.key() != QLatin1String("claude"))) {
            keys[path].insert(it.key());
            collectKeys(it.value(), path.isEmpty() ? it.key() : path + QLatin1Char('.') + it.key(), keys);
        } else {
            collectKeys(it.value(), path, keys);
        }
    }
}

TEST(StatusCommand, JsonCarriesEveryDocumentedKey)
{
    Home home;
    writeScenario(home);
    // What the history adds: Claude's weekly window, the bridge's model and a reply on each of four days.
    home.writeLog({snap(Provider::claude, WindowKind::sevenDay, -3'600, 36, 3 * 86'400),
                   snap(Provider::claude, WindowKind::sevenDay, 0, 40, 3 * 86'400)});
    TestSupport::writeFile(
        home.file(QStringLiteral("claude-meta.json")),
        R"({"modelId":"claude-opus-4-7","modelDisplayName":"Opus 4.7","effortLevel":"high",)"
        R"("thinkingEnabled":true,"capturedAt":"2026-05-12T13:00:00Z"})");
    QByteArray transcript;
    for (int day = 0; day < 4; ++day)
        transcript += Corpus::line(Corpus::claudeReply(
            kAt.addDays(-day).addSecs(-1'800).toMSecsSinceEpoch(), QStringLiteral("msg_%1").arg(day),
            QStringLiteral("req_%1").arg(day), QStringLiteral("claude-opus-4-7"), {50'000, 0, 0, 0}));
    TestSupport::writeFile(home.path() + QStringLiteral("/.claude/projects/-work/session.jsonl"), transcript);
    const ProcessResult r = run(home, {QStringLiteral("status"), QStringLiteral("--json"),
                                       QStringLiteral("--at"), QStringLiteral("2026-05-12T16:00:00+02:00")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonParseError error{};
    const QJsonObject root = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();

    QMap<QString, QSet<QString>> keys;
    collectKeys(root, QString(), keys);
    const QMap<QString, QSet<QString>> documented = documentedKeys();
    QStringList places = keys.keys() + documented.keys();
    places.removeDuplicates();
    for (const QString& place : std::as_const(places)) {
        QStringList present = keys.value(place).values(), named = documented.value(place).values();
        present.sort();
        named.sort();
        EXPECT_EQ(present, named) << "keys of " << (place.isEmpty() ? "the document" : place.toStdString());
    }
    EXPECT_EQ(root.value("title").toString(), QStringLiteral("AI  20m left"));
    EXPECT_EQ(root.value("globalStatus").toString(), QStringLiteral("limitLikely"));
    EXPECT_EQ(root.value("mode").toString(), QStringLiteral("live"));
    EXPECT_EQ(root.value("generatedAt").toString(), kAtText);

    const QJsonArray forecasts = root.value("forecasts").toArray();
    ASSERT_EQ(forecasts.size(), 4);
    // The figures are the text report's; here their names and the dates as UTC instants.
    const QJsonObject claude = forecasts[2].toObject();
    EXPECT_EQ(claude.value("id").toString(), QStringLiteral("claude-fiveHour"));
    EXPECT_EQ(claude.value("basis").toString(), QStringLiteral("last1h"));
    EXPECT_DOUBLE_EQ(claude.value("estimatedTimeToLimit").toDouble(), 1'200);
    EXPECT_EQ(claude.value("runOutAt").toString(), QStringLiteral("2026-05-12T14:20:00Z"));
    EXPECT_EQ(claude.value("resetAt").toString(), QStringLiteral("2026-05-12T15:00:00Z"));
    EXPECT_TRUE(claude.value("limitBeforeReset").toBool());
    EXPECT_EQ(claude.value("sampleCount").toInt(), 3);
    // Absent values are left out rather than written as null.
    const QJsonObject codexWeek = forecasts[1].toObject();
    EXPECT_EQ(codexWeek.value("id").toString(), QStringLiteral("codex-sevenDay"));
    EXPECT_FALSE(codexWeek.contains("estimatedTimeToLimit"));
    EXPECT_FALSE(codexWeek.contains("runOutAt"));
    EXPECT_FALSE(codexWeek.contains("burnRatePercentPerHour"));

    const QJsonArray recommendations = root.value("recommendations").toArray();
    ASSERT_EQ(recommendations.size(), 4);
    EXPECT_EQ(recommendations[2].toObject().value("provider").toString(), QStringLiteral("claude"));
    EXPECT_EQ(recommendations[2].toObject().value("status").toString(), QStringLiteral("limitLikely"));
}

TEST(StatusCommand, WaybarPrintsOneLineForStatusBars)
{
    const struct
    {
        MenuBarDisplayMode mode;
        bool showRemaining;
        QString text;
        int percentage;
    } rows[] = {
        {MenuBarDisplayMode::iconOnly, false, QStringLiteral("AI  C 30% · Cl 90%"), 90}, // icon only: compact
        {MenuBarDisplayMode::minimal, false, QStringLiteral("AI 30/90"), 90},
        // The figure follows the text: what is left of the fullest window.
        {MenuBarDisplayMode::compact, true, QStringLiteral("AI  C 70% · Cl 10%"), 10},
    };
    Home home;
    writeScenario(home);
    for (const auto& row : rows) {
        AppSettings settings;
        settings.menuBarDisplayMode = row.mode;
        settings.showRemaining = row.showRemaining;
        home.writeSettings(settings);
        const ProcessResult r = run(
            home, {QStringLiteral("status"), QStringLiteral("--waybar"), QStringLiteral("--at"), kAtText});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        ASSERT_EQ(r.out.count(QLatin1Char('\n')), 1) << r.out.toStdString();
        const QJsonObject root = QJsonDocument::fromJson(r.out.toUtf8()).object();
        EXPECT_EQ(root.value("text").toString(), row.text);
        EXPECT_EQ(root.value("class").toString(), QStringLiteral("limitLikely"));
        EXPECT_EQ(root.value("alt").toString(), QStringLiteral("Limit likely"));
        EXPECT_EQ(root.value("percentage").toInt(), row.percentage);
        EXPECT_EQ(root.value("tooltip").toString().split(QLatin1Char('\n')).size(), 3);
        EXPECT_TRUE(root.value("tooltip").toString().startsWith(QStringLiteral("Codex 5h: ")));
    }
}

// A forecast for in-process rendering; the rest at its defaults.
ForecastResult claudeFiveHour(double used, ForecastStatus status)
{
    ForecastResult f;
    f.provider = Provider::claude;
    f.windowKind = WindowKind::fiveHour;
    f.currentUsedPercent = used;
    f.currentRemainingPercent = 100 - used;
    f.status = status;
    f.resetAt = kAt.addSecs(3'600);
    f.timeUntilReset = 3'600;
    return f;
}

TEST(StatusWaybar, EscapesMarkupInTextAndTooltip)
{
    PublishInputs report;
    ForecastResult f = claudeFiveHour(99, ForecastStatus::limitLikely);
    f.estimatedTimeToLimit = 30;
    f.projectedUsedAtReset = 180;
    f.runOutAt = kAt.addSecs(30);
    report.bundle.forecasts.insert(f.id(), f);
    // A long window at its limit shows the engine's own sentence.
    ForecastResult week = claudeFiveHour(100, ForecastStatus::limited);
    week.windowKind = WindowKind::sevenDay;
    week.projectedUsedAtReset = 100;
    week.basis = ForecastBasis::last1h;
    week.humanSummary = QStringLiteral("Q&A <b>");
    report.bundle.forecasts.insert(week.id(), week);
    report.settings.menuBarDisplayMode = MenuBarDisplayMode::forecast;
    report.now = kAt;
    const QJsonObject root =
        QJsonDocument::fromJson(StatusCommand::renderWaybar(PublishedState::make(report))).object();
    EXPECT_EQ(root.value("text").toString(), QStringLiteral("AI  &lt;1m left"));
    const QString tooltip = root.value("tooltip").toString();
    EXPECT_TRUE(tooltip.contains(QStringLiteral("(&lt;1m)"))) << tooltip.toStdString();
    EXPECT_TRUE(tooltip.endsWith(QStringLiteral("Q&amp;A &lt;b&gt;"))) << tooltip.toStdString();
}

TEST(StatusWaybar, PercentageIsTheMostUrgentWindowsLikeTheTrayIcon)
{
    const ForecastResult workClaude = claudeFiveHour(90, ForecastStatus::limitLikely);
    const struct
    {
        const char* name;
        QList<AccountForecasts> accounts;
        int percentage;
        QString text;
        QString status;
    } rows[] = {
        // A fuller but calm Codex window does not outrank Claude's risky one.
        {"one account each", {}, 40, "AI  C 20% · Cl 40%", "risky"},
        // Nor the default account's Claude window another account's closer to its limit, which is named.
        {"another account is the most urgent",
         {{true, Provider::claude, "aaaa1111", "me", {}, {}, {}, {}},
          {false, Provider::claude, "bbbb2222", "work", {}, {workClaude}, {}, {}}},
         10,
         "AI  C 20% · Cl 10% work",
         "limitLikely"},
    };
    for (const auto& row : rows) {
        PublishInputs report;
        ForecastResult codex = claudeFiveHour(80, ForecastStatus::safe);
        codex.provider = Provider::codex;
        const ForecastResult claude = claudeFiveHour(60, ForecastStatus::risky);
        report.bundle.forecasts.insert(codex.id(), codex);
        report.bundle.forecasts.insert(claude.id(), claude);
        report.bundle.accounts = row.accounts;
        report.settings.menuBarDisplayMode = MenuBarDisplayMode::compact;
        report.settings.showRemaining = true;
        report.now = kAt;
        const QJsonObject root =
            QJsonDocument::fromJson(StatusCommand::renderWaybar(PublishedState::make(report))).object();
        EXPECT_EQ(root.value("percentage").toInt(), row.percentage) << row.name;
        EXPECT_EQ(root.value("text").toString(), row.text) << row.name;
        EXPECT_EQ(root.value("class").toString(), row.status) << row.name;
        EXPECT_EQ(root.value("tooltip").toString().count(QStringLiteral("Claude Code \u00b7 work 5h: ")),
                  row.accounts.isEmpty() ? 0 : 1)
            << row.name;
    }
}

TEST(StatusWatchOutput, PrintsOnRealChangesAndOnTheHeartbeat)
{
    StatusCommand::Watch watch(StatusCommand::Format::json, 30'000);
    // Two seconds later only the clock-driven figures moved, below what a reader sees of them.
    const auto at = [](qint64 seconds, double used) {
        PublishInputs report;
        ForecastResult f = claudeFiveHour(used, ForecastStatus::safe);
        f.timeUntilReset = 3'600.0 - double(seconds);
        f.estimatedTimeToLimit = 7'200.0 - double(seconds);
        f.burnRatePercentPerHour = 10.0 + double(seconds) / 1'000;
        f.projectedUsedAtReset = used + 10.0 + double(seconds) / 1'000;
        report.bundle.forecasts.insert(f.id(), f);
        report.now = kAt.addSecs(seconds);
        return PublishedState::make(report);
    };
    ASSERT_TRUE(watch.poll(at(0, 40), 0).has_value());
    EXPECT_FALSE(watch.poll(at(2, 40), 2'000).has_value());
    EXPECT_FALSE(watch.poll(at(29, 40), 29'999).has_value());
    const auto heartbeat = watch.poll(at(30, 40), 30'000);
    ASSERT_TRUE(heartbeat.has_value());
    EXPECT_TRUE(heartbeat->contains("\"generatedAt\":\"2026-05-12T14:00:30Z\"")) << heartbeat->toStdString();
    EXPECT_FALSE(watch.poll(at(32, 40), 32'000).has_value());
    EXPECT_TRUE(watch.poll(at(34, 41), 34'000).has_value());
}

TEST(StatusOptions, AtRefusesImpossibleUtcOffsets)
{
    const std::pair<const char*, std::optional<QDateTime>> rows[] = {
        {"2026-01-01T00:00:00+18:00", QDateTime(QDate(2025, 12, 31), QTime(6, 0), Zone::utc())},
        {"2026-01-01T00:00:00-18:00", QDateTime(QDate(2026, 1, 1), QTime(18, 0), Zone::utc())},
        {"2026-01-01T00:00:00+18:01", std::nullopt},
        {"2026-01-01T00:00:00+99:99", std::nullopt},
        {"2026-01-01T00:00:00-05:60", std::nullopt},
    };
    for (const auto& [text, expected] : rows) {
        const auto parsed = StatusCommand::parse({QStringLiteral("--at"), QString::fromLatin1(text)});
        if (expected) {
            ASSERT_TRUE(std::holds_alternative<StatusCommand::Options>(parsed)) << text;
            EXPECT_EQ(std::get<StatusCommand::Options>(parsed).at, expected) << text;
        } else {
            ASSERT_TRUE(std::holds_alternative<QString>(parsed)) << text;
            EXPECT_TRUE(std::get<QString>(parsed).contains(QLatin1String(text))) << text;
        }
    }
}

TEST(StatusCommand, DemoNeedsNoDataFolder)
{
    Home home;
    const ProcessResult r = run(home, {QStringLiteral("status"), QStringLiteral("--demo"),
                                       QStringLiteral("--json"), QStringLiteral("--at"), kAtText});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(root.value("mode").toString(), QStringLiteral("demo"));
    EXPECT_EQ(root.value("forecasts").toArray().size(), 4);
    EXPECT_EQ(root.value("paces").toObject().keys(), (QStringList{"claude", "codex"}));
    // Reproducible: the same instant gives the same document.
    EXPECT_EQ(run(home, {QStringLiteral("status"), QStringLiteral("--demo"), QStringLiteral("--json"),
                         QStringLiteral("--at"), kAtText})
                  .out,
              r.out);
}

// Reports write nothing, and neither does a refused command line (status 2; its message is the next test's).
TEST(StatusCommand, LeavesTheHomeAsItWas)
{
    const struct
    {
        bool withData;
        QStringList arguments;
        int exitCode;
    } rows[] = {
        {true, {"status", "--json"}, 0},
        {false, {"status"}, 0},
        {false, {"status", "--demo", "--waybar"}, 0},
        {false, {"--dumpstore"}, 0},
        {false, {"--frobnicate"}, 2},
        {false, {"status", "--at", "yesterday"}, 2},
    };
    for (const auto& row : rows) {
        Home home;
        if (row.withData)
            writeScenario(home);
        const QStringList before = home.listing();
        const ProcessResult r = run(home, row.arguments);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.err.toStdString();
        EXPECT_EQ(home.listing(), before) << row.arguments.join(' ').toStdString();
    }
}

// The command line run in this process: its status (-1 when it would go on to run a face) and what it
// printed.
ProcessResult inProcess(const QStringList& arguments)
{
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    const std::optional<int> status = runCommandLine(QStringList{"tallyvane"} + arguments);
    const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
    return {status.value_or(-1), out, QString::fromStdString(::testing::internal::GetCapturedStderr())};
}

// Parsed in-process: every refusal is one line naming what is wrong, and nothing runs.
TEST(CommandLine, BadArgumentsAreRefusedWithOneLine)
{
    const std::pair<QStringList, const char*> rows[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"status", "--colour"}, "'--colour'"},
        {{"status", "--at"}, "--at"},
        {{"status", "--at", "yesterday"}, "'yesterday'"},
        {{"status", "--at", "1700000000"}, "'1700000000'"},
        {{"status", "--at", "2026-02-30T10:00:00Z"}, "2026-02-30"},
        {{"status", "--mode", "loud"}, "providerFocus"},
        {{"status", "--mode", "Compact"}, "'Compact'"},
        {{"status", "--basis", "2h"}, "sinceWindowStart"},
        {{"status", "--json", "--waybar"}, "--waybar"},
        {{"status", "--watch"}, "--watch"},
        {{"--demo", "status"}, "'status' must come first"},
        {{"--export-csv", "--verbose"}, "unknown option '--verbose'"},
        {{"--logictest", "--headless"}, "one option at a time"},
        {{"--dumpstore", "--version"}, "one option at a time"},
        {{"usage", "--since"}, "--since needs a date"},
        {{"usage", "--since", "2025-02-30"}, "'2025-02-30' is not a date"},
        {{"usage", "--provider", "gemini"}, "--provider takes codex or claude"},
        {{"usage", "--daily"}, "unknown option '--daily'"},
        {{"usage", "--since", "2025-06-02", "--until", "2025-06-01"}, "--until is before --since"},
        {{"--json", "usage"}, "'--json'"},
        {{"help", "stats"}, "help takes one command"},
        // A slip of the finger is answered with the option meant, and its command's help.
        {{"--verison"}, "unknown option '--verison'; did you mean --version? (see tallyvane --help)"},
        {{"-version"}, "did you mean --version?"},
        {{"status", "--jsno"}, "did you mean --json? (see tallyvane status --help)"},
        {{"usage", "--hourley"}, "did you mean --hourly?"},
        {{"top", "--no-colect"}, "did you mean --no-collect?"},
        {{"status", "--xy"}, "unknown option '--xy' (see"},
    };
    for (const auto& [arguments, mentions] : rows) {
        const auto [status, out, err] = inProcess(arguments);
        const std::string name = arguments.join(' ').toStdString();
        EXPECT_EQ(status, 2) << name;
        EXPECT_EQ(out, QString()) << name;
        EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << name << ": " << err.toStdString();
        EXPECT_TRUE(err.startsWith(QLatin1String("tallyvane: "))) << name << ": " << err.toStdString();
        EXPECT_TRUE(err.contains(QString::fromUtf8(mentions))) << name << ": " << err.toStdString();
    }
}

// Every command answers -h and --help with its own usage line and options only, and nothing else runs.
TEST(CommandLine, EachCommandHasItsHelp)
{
    const struct
    {
        QStringList arguments;
        const char* opening;
        const char* has;
        const char* lacks;
    } rows[] = {
        {{"top", "--help"}, "Usage: tallyvane top ", "--no-collect", "--waybar"},
        {{"status", "--help"}, "Usage: tallyvane status ", "--waybar", "--no-collect"},
        {{"status", "--json", "-h"}, "Usage: tallyvane status ", "--basis", "--hourly"},
        {{"usage", "-h"}, "Usage: tallyvane usage ", "--hourly", "--waybar"},
        {{"help", "usage"}, "Usage: tallyvane usage ", "--provider", "--headless"},
        {{"help"}, "Usage: tallyvane [OPTION]...", "--no-collect", "(none)"},
        {{"--export-csv", "-h"}, "Usage: tallyvane [OPTION]...", "--waybar", "(none)"},
    };
    for (const auto& row : rows) {
        const auto [status, out, err] = inProcess(row.arguments);
        const std::string name = row.arguments.join(' ').toStdString();
        EXPECT_EQ(status, 0) << name;
        EXPECT_EQ(err, QString()) << name;
        EXPECT_TRUE(out.startsWith(QString::fromUtf8(row.opening))) << name << ": " << out.toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(row.has))) << name;
        EXPECT_FALSE(out.contains(QString::fromUtf8(row.lacks))) << name;
    }
}

TEST(CommandLine, LogicTestReportsEveryCheck)
{
    Home home;
    const ProcessResult r = run(home, {QStringLiteral("--logictest")});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 1);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("ok    "))) << lines[i].toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("%1 checks, 0 failed").arg(lines.size() - 1));
}

} // namespace
