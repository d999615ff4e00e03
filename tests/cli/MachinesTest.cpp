#include "CliProcess.h"
#include "app/MachineHealth.h"
#include "app/MachinePull.h"
#include "core/io/MachineMirror.h"
#include "core/text/SnapshotLineDecoder.h"
#include "history/TranscriptCorpus.h"
#include "support/SshServer.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using CliTest::Home;
using TestSupport::reading;

class Machines : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!server.problem().isEmpty())
            GTEST_SKIP() << "sshd cannot run here: " << server.problem().toStdString();
        server.installProgram(CliTest::binary());
    }

    CliTest::ProcessResult run(const QStringList& arguments) const
    {
        QProcessEnvironment env = home.environment();
        env.insert("TALLYVANE_SSH", server.ssh());
        return CliTest::runProgram(CliTest::binary(), arguments, env, 30'000, home.path());
    }
    // The remote's log, as its own program would have written it.
    void remoteLog(const QList<UsageSnapshot>& snapshots, bool replace = false) const
    {
        QByteArray lines;
        for (const UsageSnapshot& s : snapshots)
            lines += JsonLines::encodeLine(s.toJson()) + '\n';
        const QString log = server.remoteData() + "/snapshots.ndjson";
        if (replace) {
            // As a prune does: a new file renamed over the old one.
            ASSERT_TRUE(TestSupport::writeFile(log + ".new", lines));
            ASSERT_EQ(::rename(QFile::encodeName(log + ".new"), QFile::encodeName(log)), 0);
        } else {
            TestSupport::appendFile(log, lines);
        }
    }
    QList<UsageSnapshot> mirrored() const
    {
        const QString id = MachineMirror::loadState({"devbox", {}, true}).machine;
        return SnapshotLineDecoder::decodeLines(
            TestSupport::readFile(home.dataFolder() + "/machines/" + id + "/snapshots.ndjson"));
    }

    SshServer server;
    Home home;
};

} // namespace

TEST_F(Machines, PullsEverythingOnceThenOnlyWhatIsNewAndStartsOverAfterAPrune)
{
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime reset = now.addSecs(3600);
    QList<UsageSnapshot> readings;
    for (int i = 0; i < 3; ++i)
        readings.append(
            reading(Provider::claude, WindowKind::fiveHour, now.addSecs(-900 + i * 300), 40 + i, reset));
    remoteLog(readings);
    // And a reply in its Claude Code transcripts: its usage travels as one row per day.
    TestSupport::writeFile(
        server.remoteHome() + "/.claude/projects/-work/s.jsonl",
        Corpus::line(Corpus::claudeReply(now.addSecs(-600).toMSecsSinceEpoch(), "msg_1", "req_1",
                                         "claude-sonnet-4-5", {1000, 200, 0, 0})));

    ASSERT_EQ(run({"machines", "add", "devbox", "--label", "dev"}).exitCode, 0);
    // A destination ssh would read as an option never reaches the list.
    EXPECT_EQ(run({"machines", "add", "--", "-oProxyCommand=touch /tmp/x"}).exitCode, 2);
    EXPECT_EQ(run({"machines", "add", "dev\x1b[2Jbox"}).exitCode, 2);

    auto pulled = run({"machines", "pull"});
    EXPECT_EQ(pulled.exitCode, 0) << pulled.err.toStdString();
    EXPECT_TRUE(pulled.out.startsWith("dev: updated just now (3 new readings,")) << pulled.out.toStdString();
    EXPECT_EQ(mirrored().size(), 3);
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(home.dataFolder() + "/machines"), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // Unchanged: a header and a trailer. Grown: the new lines only.
    const auto bytesOf = [](const QString& out) {
        return out.section(", ", 1).section(' ', 0, 0).toLongLong();
    };
    pulled = run({"machines", "pull", "dev"});
    EXPECT_TRUE(pulled.out.contains("(0 new readings,")) << pulled.out.toStdString();
    EXPECT_LT(bytesOf(pulled.out), 1024);
    remoteLog({reading(Provider::claude, WindowKind::fiveHour, now.addSecs(-10), 57, reset)});
    pulled = run({"machines", "pull"});
    EXPECT_TRUE(pulled.out.contains("(1 new reading,")) << pulled.out.toStdString();
    EXPECT_LT(bytesOf(pulled.out), 1024 + 600);

    // A pruned log is sent again from its start; what the mirror holds already is dropped by id.
    remoteLog(readings.mid(1) + QList{mirrored().last()}, true);
    pulled = run({"machines", "pull"});
    EXPECT_TRUE(pulled.out.contains("(0 new readings,")) << pulled.out.toStdString();
    EXPECT_EQ(mirrored().size(), 4);

    // The remote's readings are this account's: the local report follows them, and names the machine.
    const QJsonObject status = QJsonDocument::fromJson(run({"status", "--json"}).out.toUtf8()).object();
    ASSERT_EQ(status["forecasts"].toArray().size(), 1);
    EXPECT_EQ(status["forecasts"][0]["currentUsedPercent"].toDouble(), 57);
    EXPECT_EQ(status["machines"][0]["label"].toString(), "dev");
    EXPECT_EQ(status["machines"][0]["health"].toString(), "updated just now");
    EXPECT_TRUE(run({"status"}).out.contains("Machine dev: updated just now"));
    const QJsonObject usage = QJsonDocument::fromJson(run({"usage", "--json"}).out.toUtf8()).object();
    ASSERT_EQ(usage["days"].toArray().size(), 1);
    EXPECT_EQ(usage["days"][0]["machine"].toString(), "dev");
    EXPECT_EQ(usage["days"][0]["tokens"].toInt(), 1200);
    EXPECT_EQ(usage["tokens"].toInt(), 1200);

    // A second name for the same machine is refused; the machine never pulls itself.
    ASSERT_EQ(run({"machines", "add", "devbox2"}).exitCode, 0);
    pulled = run({"machines", "pull", "devbox2"});
    EXPECT_EQ(pulled.exitCode, 1);
    EXPECT_EQ(pulled.out, "devbox2: the same machine as another destination\n");
    ASSERT_EQ(run({"machines", "remove", "devbox2"}).exitCode, 0);
    ASSERT_TRUE(TestSupport::writeFile(server.remoteData() + "/machine-id",
                                       TestSupport::readFile(home.dataFolder() + "/machine-id")));
    pulled = run({"machines", "pull"});
    EXPECT_EQ(pulled.out, "dev: this is the machine Tallyvane runs on\n");
    EXPECT_EQ(mirrored().size(), 4);
}

TEST_F(Machines, FailuresSayWhyEndInTimeAndStoreOnlyCompleteLines)
{
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    const QByteArray header =
        R"({"type":"header","machine":"abcdefabcdefabcd","host":"h\u001b]0;owned\u0007x",)"
        R"("version":"9.9","format":1,"zone":"UTC","accounts":[]})";
    const UsageSnapshot one =
        reading(Provider::codex, WindowKind::fiveHour, QDateTime::currentDateTimeUtc(), 20);
    const QByteArray snapshot =
        R"({"type":"snapshot","snapshot":)" + JsonLines::encodeLine(one.toJson()) + "}";
    // Lines near the longest taken, so that the flood passes 64 MiB well within the time-out.
    const QByteArray padded = snapshot.chopped(1) + R"(,"pad":")" + QByteArray(9000, 'x') + "\"}";
    using Problem = MachineMirror::State::Problem;
    struct Row
    {
        const char* name;
        const char* destination;
        QByteArray script; // the remote's tallyvane; empty: none installed
        Problem problem;
        QString health;
        qint64 keptSnapshots; // new in the mirror
    };
    const auto print = [](const QByteArray& line) { return "printf '%s\\n' '" + line + "'\n"; };
    const QByteArray trailer = R"({"type":"end","cursor":"1.1.0.0.0","snapshots":1,"usageSent":false})";
    const Row rows[] = {
        {"refused", "refused", "", Problem::unreachable, "(connection refused)", 0},
        {"silent port", "blackhole", "", Problem::unreachable, "(timed out after 3 s)", 0},
        {"not installed", "devbox", "", Problem::notInstalled, "devbox: Tallyvane is not installed there", 0},
        {"too old", "devbox",
         "[ \"$1\" = --version ] && { echo 'tallyvane 0.0.9'; exit 0; }\necho \"unknown option '$1'\" >&2; "
         "exit 2\n",
         Problem::tooOld, "devbox: Tallyvane there is too old (0.0.9)", 0},
        {"endless line", "devbox", print(header) + "printf '{\"type\":\"'; yes | tr -d '\\n'\n",
         Problem::badFeed, "(a line of more than 10,000 bytes)", 0},
        {"never ends", "devbox", print(header) + print(snapshot) + "sleep 60\n", Problem::badFeed,
         "(cut off: no end after 3 s)", 1},
        {"flood", "devbox", print(header) + "yes '" + padded + "'\n", Problem::badFeed,
         "(more than 64 MiB in one pull)", 0},
        {"escapes, then lines after the end", "devbox",
         print(header) + print(snapshot) + print(trailer) + "sleep 60\n", Problem::none,
         "devbox: updated just now", 0},
    };
    MachinePull::Options options;
    options.ssh = server.ssh();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.script.isEmpty())
            server.installProgram({});
        else
            server.installScript(row.script);
        const MachineList::Machine machine{row.destination, {}, true};
        // The flood must reach its bound before the time-out, however busy the machine running the tests.
        const bool flood = row.health.contains("64 MiB");
        options.timeout = std::chrono::seconds(flood ? 30 : 3);
        QElapsedTimer clock;
        clock.start();
        const MachinePull::Outcome outcome = MachinePull::pull(machine, options);
        // The time-out ends ssh and what it runs, whatever the remote does.
        EXPECT_LT(clock.elapsed(), flood ? 30'000 : 6000);
        EXPECT_EQ(outcome.state.problem, row.problem) << outcome.state.error.toStdString();
        const QString health = MachineHealth::line(machine, outcome.state, QDateTime::currentDateTimeUtc());
        EXPECT_TRUE(health.endsWith(row.health)) << health.toStdString();
        EXPECT_EQ(outcome.newSnapshots, row.keptSnapshots);
        EXPECT_FALSE(outcome.state.host.contains(QChar(0x1b)));
    }
    // What came before the cut, and only that, is in the mirror; the host's escapes are gone.
    const QList<UsageSnapshot> kept = SnapshotLineDecoder::decodeLines(
        TestSupport::readFile(home.dataFolder() + "/machines/abcdefabcdefabcd/snapshots.ndjson"));
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].id, one.id);
    EXPECT_EQ(MachineMirror::loadState({"devbox", {}, true}).host, "hx");
    QStringList written;
    for (const QFileInfo& f :
         QDir(home.dataFolder() + "/machines").entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        written.append(f.fileName());
    // A state and a lock per destination, and the one machine that answered with a header.
    EXPECT_EQ(written.size(), 3 * 2 + 1) << written.join(' ').toStdString();
}
