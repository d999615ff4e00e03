#include "CodexTestSupport.h"

#include "providers/codex/CodexProcessManager.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QScopeGuard>

#include <atomic>
#include <csignal>

using CodexTestSupport::Collected;
using CodexTestSupport::FakeCodex;
using TestSupport::waitFor;

namespace {

QStringList assemble(const QList<QByteArray>& chunks, bool finish, qsizetype maxLineBytes)
{
    LineAssembler assembler(maxLineBytes);
    QStringList lines;
    const auto deliver = [&](const QString& line) { lines.append(line); };
    for (const QByteArray& chunk : chunks)
        assembler.feed(chunk.constData(), chunk.size(), deliver);
    if (finish)
        assembler.finish(deliver);
    return lines;
}

// Options that run a shell command as the "codex" child.
CodexLaunchOptions shell(const QString& command)
{
    CodexLaunchOptions options;
    options.executable = QStringLiteral("/bin/sh");
    options.arguments = {QStringLiteral("-c"), command};
    return options;
}

bool sigpipeIsDefault()
{
    struct sigaction current = {};
    sigaction(SIGPIPE, nullptr, &current);
    return current.sa_handler == SIG_DFL;
}

} // namespace

TEST(LineAssembler, DeliversOnlyCompleteValidLines)
{
    struct Row
    {
        const char* name;
        QList<QByteArray> chunks;
        bool finish;
        QStringList expected;
        qsizetype maxLineBytes = LineAssembler::defaultMaxLineBytes;
    };
    const Row rows[] = {
        {"blank lines skipped", {"a\n\nb\n"}, false, {"a", "b"}},
        {"line across reads joined", {"{\"id\"", ":1}\n"}, false, {"{\"id\":1}"}},
        {"line across three reads", {"ab", "c", "d\ne\n"}, false, {"abcd", "e"}},
        {"multi-byte character cut between reads", {"f\xc3", "\xbcr\n"}, false, {"f\u00fcr"}},
        {"invalid line dropped, neighbours kept", {"ok1\n\xff\xfe\nok2\n"}, false, {"ok1", "ok2"}},
        {"invalid byte inside a line drops only that line", {"x\xc3(y\nz\n"}, false, {"z"}},
        {"unfinished line held back", {"done\npart"}, false, {"done"}},
        {"unfinished line delivered at end", {"done\npart"}, true, {"done", "part"}},
        {"end of input alone delivers nothing", {}, true, {}},
        {"empty read", {""}, true, {}},
        {"line at the limit kept", {"12345678\n"}, false, {"12345678"}, 8},
        {"over-long line dropped, next kept", {"123456789\nok\n"}, false, {"ok"}, 8},
        {"over-long line across reads dropped", {"12345", "6789", "0\nok\n"}, false, {"ok"}, 8},
        {"over-long tail not delivered at end", {"ok\n123456789"}, true, {"ok"}, 8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(assemble(row.chunks, row.finish, row.maxLineBytes), row.expected);
    }
}

TEST(CodexProcessManager, DeliversLinesAndTheUnterminatedTailThenReportsTheEnd)
{
    CodexProcessManager manager(shell(QStringLiteral("printf 'a\\n\\nb\\n'; sleep 0.1; printf 'c'")));
    Collected<QString> lines;
    std::atomic<int> terminated{0};
    manager.setOnLine([&](const QString& line) { lines.add(line); });
    manager.setOnTerminate([&](const CodexExit&) { terminated.fetch_add(1); });
    ASSERT_TRUE(manager.start());
    EXPECT_TRUE(manager.isRunning());
    ASSERT_TRUE(waitFor([&] { return terminated.load() == 1 && lines.size() == 3; }));
    EXPECT_EQ(lines.values(), (QList<QString>{"a", "b", "c"}));
    EXPECT_FALSE(manager.isRunning());
}

TEST(CodexProcessManager, WritingToAChildThatNoLongerReadsIsAbsorbed)
{
    // Qt Network ignores SIGPIPE process-wide once a socket is made; put the default back so that a broken
    // pipe would really kill this process.
    struct sigaction saved = {};
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &fallback, &saved);
    const auto restore = qScopeGuard([&] { sigaction(SIGPIPE, &saved, nullptr); });
    ASSERT_TRUE(sigpipeIsDefault());
    FakeCodex fake;
    for (const char* scenario : {"deaf", "exit"}) {
        SCOPED_TRACE(scenario);
        CodexProcessManager manager(fake.options(QString::fromLatin1(scenario)));
        std::atomic<bool> ended{false};
        std::atomic<bool> deaf{false}; // the fake says so once it has closed its input
        manager.setOnTerminate([&](const CodexExit&) { ended.store(true); });
        manager.setOnLine([&](const QString&) { deaf.store(true); });
        ASSERT_TRUE(manager.start());
        ASSERT_TRUE(waitFor([&] { return QByteArray(scenario) == "exit" ? ended.load() : deaf.load(); }));
        for (int i = 0; i < 200; ++i)
            manager.send(
                QStringLiteral("{\"id\":%1,\"method\":\"account/rateLimits/read\",\"params\":{}}").arg(i));
        manager.flush();
        EXPECT_TRUE(sigpipeIsDefault()) << "the fix must not change the process-wide disposition";
    }
}

TEST(CodexProcessManager, AChildThatStopsReadingDoesNotBlockSendingForGood)
{
    FakeCodex fake;
    CodexProcessManager manager(fake.options(QStringLiteral("stall")));
    ASSERT_TRUE(manager.start());
    const QString line(200, QLatin1Char('y'));
    // Far more than a pipe holds.
    for (int i = 0; i < 3000; ++i)
        manager.send(line);
    QElapsedTimer elapsed;
    elapsed.start();
    manager.flush();
    EXPECT_LT(elapsed.elapsed(), 15000);
    EXPECT_TRUE(manager.isRunning());
}

TEST(CodexProcessManager, StopEndsDeliveryAndTheChild)
{
    CodexProcessManager manager(shell(QStringLiteral("while :; do echo tick; done")));
    std::atomic<int> count{0};
    std::atomic<bool> ended{false};
    std::atomic<bool> requested{false};
    manager.setOnLine([&](const QString&) { count.fetch_add(1); });
    manager.setOnTerminate([&](const CodexExit& exit) {
        requested.store(exit.requested);
        ended.store(true);
    });
    ASSERT_TRUE(manager.start());
    ASSERT_TRUE(waitFor([&] { return count.load() > 10; }));
    manager.stop();
    EXPECT_FALSE(manager.isRunning());
    const int atStop = count.load();
    // The end is reported last: nothing may be delivered after stop() up to it.
    EXPECT_TRUE(waitFor([&] { return ended.load(); }));
    EXPECT_EQ(count.load(), atStop);
    EXPECT_TRUE(requested.load()) << "an end that was asked for is no failure";
}

TEST(CodexProcessManager, DestructionKillsAChildThatIgnoresTerminate)
{
    QElapsedTimer elapsed;
    std::atomic<bool> ended{false};
    {
        CodexProcessManager manager(shell(QStringLiteral("trap '' TERM; echo ready; exec sleep 30")));
        std::atomic<bool> ready{false};
        manager.setOnLine([&](const QString&) { ready.store(true); });
        manager.setOnTerminate([&](const CodexExit&) { ended.store(true); });
        ASSERT_TRUE(manager.start());
        ASSERT_TRUE(waitFor([&] { return ready.load(); }));
        elapsed.start();
    }
    EXPECT_TRUE(ended.load());
    EXPECT_LT(elapsed.elapsed(), 10000);
}
