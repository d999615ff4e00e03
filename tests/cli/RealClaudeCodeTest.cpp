// The pinned real Claude Code runs our status-line bridge: installed with `tallyvane
// --install-claude-bridge`, driven in a pseudo-terminal in a throwaway HOME, talking to a loopback mock of
// the Messages API whose rate-limit headers are what the bridge must record and whose status line shows the
// forecast Tallyvane summarised.
#include "CliProcess.h"
#include "core/text/Zone.h"

#include "core/io/SnapshotStore.h"
#include "providers/ClaudeTestSupport.h"
#include "providers/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QThread>

#include <vector>

#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ClaudeTestSupport;

namespace {

QString realClaude()
{
    const QByteArray overridden = qgetenv("TALLYVANE_REAL_CLAUDE");
    return overridden.isEmpty() ? QStringLiteral(TALLYVANE_REAL_CLAUDE) : QString::fromLocal8Bit(overridden);
}

// One short streamed reply, with the account's windows in the headers the way the service reports them.
LoopbackHttpServer::Answer messagesAnswer(qint64 fiveHourReset, qint64 sevenDayReset)
{
    const QByteArray body = R"(event: message_start
data: {"type":"message_start","message":{"id":"msg_1","type":"message","role":"assistant","model":"claude-opus-4-8","content":[],"usage":{"input_tokens":10,"output_tokens":1}}}

event: content_block_start
data: {"type":"content_block_start","index":0,"content_block":{"type":"text","text":""}}

event: content_block_delta
data: {"type":"content_block_delta","index":0,"delta":{"type":"text_delta","text":"Hello from the loopback."}}

event: content_block_stop
data: {"type":"content_block_stop","index":0}

event: message_delta
data: {"type":"message_delta","delta":{"stop_reason":"end_turn"},"usage":{"output_tokens":5}}

event: message_stop
data: {"type":"message_stop"}

)";
    return LoopbackHttpServer::reply(
        200, body,
        {{"Content-Type", "text/event-stream"},
         {"anthropic-ratelimit-unified-status", "allowed"},
         {"anthropic-ratelimit-unified-5h-utilization", "0.42"},
         {"anthropic-ratelimit-unified-5h-reset", QByteArray::number(fiveHourReset)},
         {"anthropic-ratelimit-unified-7d-utilization", "0.175"},
         {"anthropic-ratelimit-unified-7d-reset", QByteArray::number(sevenDayReset)}});
}

// A child on a pseudo-terminal whose output is drained as it comes, so it never blocks on a full terminal.
class TerminalChild
{
public:
    TerminalChild(const QString& program, const QStringList& arguments,
                  const QProcessEnvironment& environment, const QString& workingFolder)
    {
        // Everything the child needs is made before fork: after it only chdir and execve run.
        std::vector<QByteArray> storage;
        storage.push_back(QFile::encodeName(program));
        for (const QString& argument : arguments)
            storage.push_back(argument.toUtf8());
        const qsizetype argc = qsizetype(storage.size());
        for (const QString& entry : environment.toStringList())
            storage.push_back(entry.toUtf8());
        std::vector<char*> argv, envp;
        for (qsizetype i = 0; i < qsizetype(storage.size()); ++i)
            (i < argc ? argv : envp).push_back(storage[size_t(i)].data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const QByteArray folder = QFile::encodeName(workingFolder);

        winsize size{};
        size.ws_row = 40;
        size.ws_col = 120;
        m_pid = ::forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            if (::chdir(folder.constData()) == 0)
                ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
    }
    ~TerminalChild()
    {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0)
            ::close(m_master);
    }

    bool started() const { return m_pid > 0; }
    void type(const QByteArray& keys)
    {
        [[maybe_unused]] auto n = ::write(m_master, keys.constData(), keys.size());
    }
    // Reads what is there for up to `ms` milliseconds; notes when the child has ended.
    void pump(int ms)
    {
        pollfd entry{m_master, POLLIN, 0};
        if (::poll(&entry, 1, ms) > 0) {
            char buffer[65536];
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got > 0)
                m_screen.append(buffer, got);
        }
        int status = 0;
        if (!m_exited && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_exited = true;
    }
    bool exited() const { return m_exited; }
    const QByteArray& screen() const { return m_screen; }

private:
    pid_t m_pid = -1;
    int m_master = -1;
    bool m_exited = false;
    QByteArray m_screen;
};

} // namespace

TEST(RealClaudeCodeTest, BridgeRecordsTheWindowsClaudeCodeReports)
{
    const QFileInfo binary(realClaude());
    if (!binary.isFile() || !binary.isExecutable()) {
        if (qgetenv("CI") == "true")
            FAIL() << "the pinned Claude Code is missing at " << realClaude().toStdString()
                   << " (run make deps)";
        GTEST_SKIP() << "the pinned Claude Code is missing at " << realClaude().toStdString()
                     << "; run make deps";
    }

    CliTest::Home home;
    LoopbackHttpServer server;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 fiveHourReset = now + 3600;
    const qint64 sevenDayReset = now + 3 * 86400;
    server.answer("/v1/messages", {messagesAnswer(fiveHourReset, sevenDayReset)});

    // A subscription sign-in (an API key would make Claude Code ignore the rate-limit headers), onboarding
    // done and the working folder trusted, so no dialog stands in the way.
    const QString work = home.path() + "/work";
    QDir().mkpath(work);
    writeFile(home.path() + "/.claude/.credentials.json",
              credentialDocument("sk-ant-oat01-not-a-secret", "sk-ant-ort01-not-a-secret",
                                 QDateTime::currentDateTimeUtc().addDays(1)),
              ownerOnly);
    writeFile(
        home.path() + "/.claude.json",
        QJsonDocument(QJsonObject{{"hasCompletedOnboarding", true},
                                  {"projects", QJsonObject{{QFileInfo(work).canonicalFilePath(),
                                                            QJsonObject{{"hasTrustDialogAccepted", true}}}}}})
            .toJson());

    // Only what Claude Code needs; a dead proxy catches anything that would leave the machine.
    QProcessEnvironment env;
    const QProcessEnvironment base = home.environment();
    for (const char* name :
         {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "TZ"})
        env.insert(name, base.value(name));
    env.insert("PATH", "/usr/bin:/bin");
    env.insert("TERM", "xterm-256color");
    env.insert("LANG", "C.UTF-8");
    env.insert("ANTHROPIC_BASE_URL", QString::fromLatin1(server.base()));
    for (const char* name :
         {"DISABLE_TELEMETRY", "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "DISABLE_AUTOUPDATER",
          "DISABLE_ERROR_REPORTING", "CLAUDE_CODE_DISABLE_OFFICIAL_MARKETPLACE_AUTOINSTALL"})
        env.insert(name, "1");
    env.insert("HTTPS_PROXY", "http://127.0.0.1:9");
    env.insert("HTTP_PROXY", "http://127.0.0.1:9");
    env.insert("NO_PROXY", "127.0.0.1,localhost");

    QProcess install;
    install.setProcessEnvironment(env);
    install.start(CliTest::binary(), {"--install-claude-bridge"});
    ASSERT_TRUE(install.waitForFinished(30'000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().constData();

    // A summary as a running Tallyvane keeps it; written now, it stays current for the whole run.
    writeFile(home.file("statusline-summary.json"),
              R"({"showRemaining":true,"status":"risky","windows":{"claude-fiveHour":{"usedPercent":42,)"
              R"("shown":"58% left","status":"risky","runsOut":"16:40"}}})");

    TerminalChild claude(realClaude(), {"say hello"}, env, work);
    ASSERT_TRUE(claude.started());
    const QString log = home.file("snapshots.ndjson");
    const auto claudeLines = [&] { return readFile(log).count("\"provider\":\"claude\""); };
    QDeadlineTimer deadline(90'000);
    while (claudeLines() < 2 && !claude.exited() && !deadline.hasExpired())
        claude.pump(200);
    ASSERT_EQ(claudeLines(), 2) << "Claude Code's screen:\n" << claude.screen().right(3000).constData();
    // The status line Claude Code draws carries the forecast.
    QDeadlineTimer lineDeadline(20'000);
    while (!claude.screen().contains("out ~16:40") && !claude.exited() && !lineDeadline.hasExpired())
        claude.pump(200);
    EXPECT_TRUE(claude.screen().contains("5h 58% left")) << claude.screen().right(3000).constData();
    EXPECT_TRUE(claude.screen().contains("out ~16:40"));

    claude.type("/exit\r");
    QDeadlineTimer exitDeadline(20'000);
    while (!claude.exited() && !exitDeadline.hasExpired())
        claude.pump(200);
    EXPECT_TRUE(claude.exited());

    const QList<UsageSnapshot> stored = SnapshotStore(log, SnapshotStore::ReadOnly{}).all();
    ASSERT_EQ(stored.size(), 2);
    EXPECT_EQ(stored[0].windowKind, WindowKind::fiveHour);
    EXPECT_EQ(stored[0].usedPercent, 42);
    EXPECT_EQ(stored[0].resetAt, QDateTime::fromSecsSinceEpoch(fiveHourReset, Zone::utc()));
    EXPECT_EQ(stored[1].windowKind, WindowKind::sevenDay);
    EXPECT_EQ(stored[1].usedPercent, 17.5);
    EXPECT_EQ(stored[1].resetAt, QDateTime::fromSecsSinceEpoch(sevenDayReset, Zone::utc()));
    EXPECT_EQ(stored[0].source, "claude.statusline");

    // The model in the meta file is the one Claude Code asked the API for.
    const QJsonObject meta = readObject(home.file("claude-meta.json"));
    QString requested;
    for (const LoopbackHttpServer::Received& request : server.received()) {
        if (request.path.startsWith("/v1/messages") && requested.isEmpty())
            requested = QJsonDocument::fromJson(request.body).object()["model"].toString();
    }
    EXPECT_FALSE(requested.isEmpty());
    EXPECT_EQ(meta["modelId"].toString(), requested);
    EXPECT_EQ(stored[0].modelId, requested);
}
