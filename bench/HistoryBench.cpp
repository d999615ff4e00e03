// The incremental paths of the usage history, timed on a transcript corpus (bench/history-bench.sh makes
// one with genbig.py): the rescan with nothing changed, then five rounds of a rescan after 1 MB appended to
// one transcript and a rolling count after another 1 MB; then a history without the transcript watch reads
// the corpus afresh and must agree; last, the cache bytes written in an hour of Claude Code at work. Prints
// "name value" lines; the transcript is restored after.
// HISTORY_BENCH_NO_WATCH=1 times the same without the watch.

#include "core/runtime/Clock.h"
#include "history/TranscriptFiles.h"
#include "history/UsageHistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// About `size` bytes (1 MB) of replies as Claude Code writes them (each twice), stamped `at` (now).
QByteArray megabyteOfReplies(int round, qsizetype size = 1024 * 1024,
                             const QDateTime& at = QDateTime::currentDateTimeUtc())
{
    const QByteArray pad(1000, 'x');
    const QByteArray stamp = at.toString(Qt::ISODateWithMs).toLatin1();
    QByteArray out;
    for (int m = 0; out.size() < size; ++m) {
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double cpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
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
    // Completions and count announcements run on the history queue itself, where they are timed: the
    // moment the answer is out, before the cache save queued behind it.
    options.postToMain = [](std::function<void()> callback) { callback(); };
    // HISTORY_BENCH_NO_WATCH=1: every refresh lists all transcripts, as where no watch can be set up.
    options.watch.enabled = qEnvironmentVariableIntValue("HISTORY_BENCH_NO_WATCH") == 0;

    QElapsedTimer timer;
    timer.start();
    UsageHistory history(options);
    std::printf("cache_load_ms %.2f\n", ms(timer));
    timer.restart();
    const auto warm = history.refreshSync();
    std::printf("files %d (first refresh %.1f ms wall, %s)\n", warm.listed, ms(timer),
                warm.fullListing ? "full listing" : "watch");

    // The CPU time of the history queue's thread (a scan of a few MB uses no helper thread), read from here
    // while the queue is idle and on the queue when the answer goes out.
    clockid_t queueClock{};
    history.refresh([&] { pthread_getcpuclockid(pthread_self(), &queueClock); });
    history.lastScan();
    double answeredWall = 0, answeredCpu = 0;
    const auto answered = [&] {
        answeredWall = ms(timer);
        answeredCpu = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    };
    history.setOnCacheUpdated(answered);
    struct Timed
    {
        double wall = 0, cpu = 0;
        UsageHistory::ScanStats stats;
    };
    const auto timedRefresh = [&] {
        const double before = cpuMs(queueClock);
        timer.restart();
        history.refresh(answered);
        Timed timed;
        history.lastScan();               // behind the refresh, which queued its save behind this
        timed.stats = history.lastScan(); // behind the save
        timed.wall = answeredWall;
        timed.cpu = answeredCpu - before;
        return timed;
    };

    std::vector<double> rescans, rescanCpu;
    for (int i = 0; i < 21; ++i) {
        const Timed timed = timedRefresh();
        rescans.push_back(timed.wall);
        rescanCpu.push_back(timed.cpu);
        if (timed.stats.read != 0)
            std::printf("warning: a rescan read %d files\n", timed.stats.read);
    }
    std::printf("nochange_rescan_ms %.3f wall, %.3f CPU (medians of 21; min wall %.3f)\n", median(rescans),
                median(rescanCpu), *std::min_element(rescans.begin(), rescans.end()));

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
    const auto describe = [](const UsageHistory::ScanStats& stats) {
        return QStringLiteral("scan %1 ms; %2, %3 stat-ed; read %4 bytes in %5 file")
            .arg(stats.scanMicros / 1000.0, 0, 'f', 2)
            .arg(stats.fullListing ? QStringLiteral("full listing") : QStringLiteral("watch"))
            .arg(stats.statted)
            .arg(stats.bytesRead)
            .arg(stats.read)
            .toStdString();
    };

    // Five rounds: 1 MB appended then a refresh, another 1 MB then a rolling count of a new moment.
    std::vector<double> growWall, growCpu, rollWall, rollCpu;
    QDateTime since;
    qint64 counted = 0;
    for (int round = 1; round <= 5; ++round) {
        const qint64 appended = append(2 * round - 1);
        const Timed grown = timedRefresh();
        growWall.push_back(grown.wall);
        growCpu.push_back(grown.cpu);
        std::printf(
            "  append_rescan %d: %.2f ms wall, %.2f CPU (appended %lld bytes; %s; cache save %.1f ms %s)\n",
            round, grown.wall, grown.cpu, static_cast<long long>(appended), describe(grown.stats).c_str(),
            grown.stats.saveMicros / 1000.0, grown.stats.saved ? "saved" : "NOT saved");

        const qint64 appendedAgain = append(2 * round);
        since = QDateTime::currentDateTimeUtc().addSecs(-5 * 3600 - 60 * round);
        const double before = cpuMs(queueClock);
        timer.restart();
        const qint64 provisional = history.rollingClaudeTokens(since); // starts the count
        history.lastScan();                                            // behind the count
        const auto rollScan = history.lastScan();                      // behind its save
        counted = history.rollingClaudeTokens(since);
        rollWall.push_back(answeredWall);
        rollCpu.push_back(answeredCpu - before);
        std::printf(
            "  rolling_count %d: %.2f ms wall, %.2f CPU (appended %lld bytes; %s; answers %lld then %lld "
            "tokens)\n",
            round, rollWall.back(), rollCpu.back(), static_cast<long long>(appendedAgain),
            describe(rollScan).c_str(), static_cast<long long>(provisional), static_cast<long long>(counted));
    }
    std::printf("append_rescan_ms %.2f wall, %.2f CPU (medians of 5)\n", median(growWall), median(growCpu));
    std::printf("rolling_count_ms %.2f wall, %.2f CPU (medians of 5)\n", median(rollWall), median(rollCpu));

    // The same corpus read from nothing by a history without a watch (full listings only) must agree.
    UsageHistory::Options unwatched = options;
    unwatched.watch.enabled = false;
    unwatched.countInline = true;
    unwatched.cachePath = options.cachePath + QStringLiteral(".unwatched");
    QFile::remove(unwatched.cachePath);
    {
        UsageHistory reference(unwatched);
        const auto stats = reference.refreshSync();
        const qint64 referenceCount = reference.rollingClaudeTokens(since);
        const bool same = *reference.totals() == *history.totals() && referenceCount == counted;
        std::printf(
            "unwatched_reference %s (%d files read from scratch%s; rolling count %lld against %lld)\n",
            same ? "identical" : "DIFFERENT", stats.read, stats.fullListing ? " by a full listing" : "",
            static_cast<long long>(referenceCount), static_cast<long long>(counted));
    }
    QFile::remove(unwatched.cachePath);

    // An hour of Claude Code at work, on a clock that jumps a minute at a time: a reply a minute, the
    // compute cycle's count of a new moment (five hours back) each minute, the periodic refresh every five
    // minutes. Every replacement of the cache file (a new inode) counts its size as written.
    {
        ManualClock clock(QDateTime::currentDateTimeUtc());
        UsageHistory::Options hour = options;
        hour.clock = &clock;
        UsageHistory active(hour);
        active.refreshSync();
        active.lastScan();
        const QByteArray cachePath = QFile::encodeName(options.cachePath);
        struct stat last = {};
        ::stat(cachePath.constData(), &last);
        int saves = 0;
        qint64 written = 0;
        const auto countWrite = [&] {
            struct stat now = {};
            if (::stat(cachePath.constData(), &now) != 0 ||
                (now.st_ino == last.st_ino && now.st_mtim.tv_nsec == last.st_mtim.tv_nsec &&
                 now.st_mtim.tv_sec == last.st_mtim.tv_sec))
                return;
            ++saves;
            written += now.st_size;
            last = now;
        };
        for (int minute = 1; minute <= 60; ++minute) {
            clock.advance(60);
            QFile file(target);
            if (file.open(QIODevice::Append))
                file.write(megabyteOfReplies(100 + minute, 4096, clock.now()));
            file.close();
            active.rollingClaudeTokens(clock.now().addSecs(-5 * 3600));
            active.lastScan(); // behind the count
            active.lastScan(); // behind any save it queued
            countWrite();
            if (minute % 5 == 0) {
                active.refreshSync();
                active.lastScan(); // behind its save
                countWrite();
            }
        }
        std::printf("cache_writes_per_hour %d saves, %lld bytes (cache now %lld bytes)\n", saves,
                    static_cast<long long>(written), static_cast<long long>(last.st_size));
    }

    if (::truncate(QFile::encodeName(target).constData(), originalSize) != 0)
        std::perror("truncate");
    history.refreshSync();
    return 0;
}
