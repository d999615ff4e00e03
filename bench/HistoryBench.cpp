// The incremental paths of the usage history, timed on a transcript corpus (bench/history-bench.sh makes
// one with genbig.py): the rescan with nothing changed, the rescan after 1 MB appended to one transcript,
// and the rolling count after another 1 MB. Prints "name value" lines; the transcript is restored after.

#include "history/TranscriptFiles.h"
#include "history/UsageHistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include <unistd.h>

namespace {

// About 1 MB of replies as Claude Code writes them (each twice), stamped now.
QByteArray megabyteOfReplies(int round)
{
    const QByteArray pad(1000, 'x');
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    QByteArray out;
    for (int m = 0; out.size() < 1024 * 1024; ++m) {
        const QByteArray id = QByteArray::number(round) + '_' + QByteArray::number(m);
        const QByteArray line = "{\"parentUuid\":\"u\",\"type\":\"assistant\",\"sessionId\":\"s\","
                                "\"version\":\"2.1.0\",\"timestamp\":\"" +
                                stamp + "\",\"requestId\":\"req_bench_" + id +
                                "\",\"message\":{\"id\":\"msg_bench_" + id +
                                "\",\"type\":\"message\",\"role\":\"assistant\",\"model\":\"claude-sonnet-4-"
                                "20250514\",\"content\":[{"
                                "\"type\":\"text\",\"text\":\"" +
                                pad +
                                "\"}],\"usage\":{\"input_tokens\":10,\"cache_creation_input_tokens\":20,"
                                "\"cache_read_input_tokens\":"
                                "30,\"output_tokens\":40}}}\n";
        out += line + line;
    }
    return out;
}

double ms(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// CPU time of the whole process (every thread), which a busy machine does not inflate as it does wall time.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: history_bench HOME CACHE_FILE\n");
        return 2;
    }
    const QString home = QString::fromLocal8Bit(argv[1]);
    UsageHistory::Options options = UsageHistory::defaults();
    options.claudeRoots = {home + QStringLiteral("/.claude/projects")};
    options.codexRoots = {home + QStringLiteral("/.codex/sessions")};
    options.cachePath = QString::fromLocal8Bit(argv[2]);
    options.postToMain = [](std::function<void()>) {};

    QElapsedTimer timer;
    timer.start();
    UsageHistory history(options);
    std::printf("cache_load_ms %.2f\n", ms(timer));
    const auto warm = history.refreshSync();
    std::printf("files %d\n", warm.listed);

    std::vector<double> rescans;
    std::vector<double> rescanCpu;
    for (int i = 0; i < 21; ++i) {
        const double cpu = cpuMs();
        timer.restart();
        const auto stats = history.refreshSync();
        rescans.push_back(ms(timer));
        rescanCpu.push_back(cpuMs() - cpu);
        if (stats.read != 0)
            std::printf("warning: a rescan read %d files\n", stats.read);
    }
    std::sort(rescans.begin(), rescans.end());
    std::sort(rescanCpu.begin(), rescanCpu.end());
    std::printf("nochange_rescan_ms %.2f wall, %.2f CPU (medians of 21; min wall %.2f)\n", rescans[10],
                rescanCpu[10], rescans[0]);

    auto files = TranscriptFiles::list(options.claudeRoots, Provider::claude);
    if (files.empty())
        return 1;
    const QString target = QFile::decodeName(files.front().path);
    const qint64 originalSize = files.front().size;
    const auto append = [&](int round) {
        QFile file(target);
        if (!file.open(QIODevice::Append))
            return qint64(0);
        const QByteArray bytes = megabyteOfReplies(round);
        file.write(bytes);
        return qint64(bytes.size());
    };

    const qint64 appended = append(1);
    double cpu = cpuMs();
    timer.restart();
    const auto grown = history.refreshSync();
    const double growMs = ms(timer);
    const double growCpu = cpuMs() - cpu;
    std::printf("append_rescan_ms %.2f wall, %.2f CPU (scan %.2f ms; appended %lld bytes, read %lld bytes "
                "in %d file)\n",
                growMs, growCpu, grown.scanMicros / 1000.0, static_cast<long long>(appended),
                static_cast<long long>(grown.bytesRead), grown.read);
    // The save queued behind the refresh; waited for here so that the rolling count below is timed alone.
    cpu = cpuMs();
    timer.restart();
    const auto saved = history.lastScan();
    std::printf("cache_save_ms %.2f wall, %.2f CPU (off the refresh path; write %.2f ms, %s)\n", ms(timer),
                cpuMs() - cpu, saved.saveMicros / 1000.0, saved.saved ? "saved" : "NOT saved");

    const qint64 appendedAgain = append(2);
    const QDateTime since = QDateTime::currentDateTimeUtc().addSecs(-5 * 3600);
    cpu = cpuMs();
    timer.restart();
    const qint64 provisional = history.rollingClaudeTokens(since);
    const qint64 counted = history.rollingClaudeTokens(since); // waits behind the count the first one started
    const double rollMs = ms(timer);
    const double rollCpu = cpuMs() - cpu;
    const auto rollScan = history.lastScan();
    std::printf("rolling_count_ms %.2f wall, %.2f CPU (scan %.2f ms; appended %lld bytes, read %lld bytes in "
                "%d file; answers %lld "
                "then %lld tokens)\n",
                rollMs, rollCpu, rollScan.scanMicros / 1000.0, static_cast<long long>(appendedAgain),
                static_cast<long long>(rollScan.bytesRead), rollScan.read,
                static_cast<long long>(provisional), static_cast<long long>(counted));

    if (::truncate(QFile::encodeName(target).constData(), originalSize) != 0)
        std::perror("truncate");
    history.refreshSync();
    return 0;
}
