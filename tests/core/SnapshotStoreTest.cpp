#include "core/io/SnapshotStore.h"
#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "support/TestSupport.h"

#include "SnapshotTestData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <functional>
#include <limits>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace SnapshotTestData;

namespace {

class SnapshotStoreTest : public ::testing::Test
{
protected:
    QTemporaryDir dir{TestSupport::homePath() + QStringLiteral("/store-XXXXXX")};
    QString path = dir.filePath(QStringLiteral("snapshots.ndjson"));

    static QList<QUuid> ids(const QList<UsageSnapshot>& snapshots)
    {
        QList<QUuid> result;
        for (const UsageSnapshot& s : snapshots)
            result.append(s.id);
        return result;
    }
};

const UsageSnapshot first = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 1, 31, 9, 15), 10);
const UsageSnapshot second = reading(Provider::claude, WindowKind::sevenDay, utc(2026, 1, 31, 9, 16), 20);

} // namespace

// What counts as a decodable line is the line decoder's table; here the splitting into lines.
TEST_F(SnapshotStoreTest, LoadsDecodableLinesInFileOrderAndSkipsTheRest)
{
    QByteArray wrongType = line(first);
    wrongType.replace("\"usedPercent\":10", "\"usedPercent\":\"10\"");
    QByteArray badUtf8 = line(second);
    badUtf8.replace("claude.oauth", "claude.\xff\xfe");
    struct Row
    {
        const char* name;
        QByteArray content;
        QList<QUuid> expected;
    };
    const Row rows[] = {
        {"blank and plain words",
         line(first) + "\n   \t\nthis is not json\n" + line(second),
         {first.id, second.id}},
        {"no final line feed", line(first) + line(second).chopped(1), {first.id, second.id}},
        {"CRLF and CR endings",
         line(first).chopped(1) + "\r\n" + line(second).chopped(1) + "\r",
         {first.id, second.id}},
        {"wrong type skips only that line", wrongType + line(second), {second.id}},
        {"invalid UTF-8 skips only that line", line(first) + badUtf8 + line(first), {first.id, first.id}},
        {"complete record glued onto a torn fragment",
         "{\"id\":\"5A1B" + line(second) + line(first),
         {second.id, first.id}},
        {"empty file", "", {}},
        {"a run of NUL bytes ends the torn line before it",
         line(first) + "{\"id\":\"torn" + QByteArray(5000, '\0') + line(second),
         {first.id, second.id}},
    };
    for (const Row& row : rows) {
        writeFile(path, row.content);
        SnapshotStore store(path);
        EXPECT_EQ(ids(store.all()), row.expected) << row.name;
    }

    // The same as a 2 GB hole, which a crash can leave behind: skipped unread.
    writeFile(path, line(first) + "{\"id\":\"torn");
    const qint64 holeEnd = QFileInfo(path).size() + (qint64(2) << 30);
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), holeEnd), 0);
    ASSERT_TRUE(appendFile(path, line(second)));
    SnapshotStore store(path);
    EXPECT_EQ(ids(store.all()), (QList<QUuid>{first.id, second.id}));
    QFile::remove(path);
}

TEST_F(SnapshotStoreTest, AppendingToAMissingFileCreatesItAndAListKeepsItsOrder)
{
    SnapshotStore store(path);
    QFile::remove(path);
    store.append(first);
    EXPECT_EQ(readFile(path), line(first));
    store.append(QList<UsageSnapshot>{second, first});
    EXPECT_EQ(readFile(path), line(first) + line(second) + line(first));
    EXPECT_EQ(store.all(), (QList<UsageSnapshot>{first, second, first}));
}

TEST_F(SnapshotStoreTest, AppendAfterAnUnterminatedLineStartsAFreshLine)
{
    struct Row
    {
        const char* name;
        QByteArray existing;
        QList<QUuid> expected;
    };
    const Row rows[] = {
        {"torn line", line(first) + "{\"id\":\"5A1B", {first.id, second.id}},
        {"complete object without line feed", line(first).chopped(1), {first.id, second.id}},
        {"ends with CR", line(first).chopped(1) + "\r", {first.id, second.id}},
    };
    for (const Row& row : rows) {
        writeFile(path, row.existing);
        SnapshotStore store(path);
        store.append(second);
        const QByteArray bytes = readFile(path);
        EXPECT_TRUE(bytes.endsWith(line(second))) << row.name;
        const bool startsFresh = bytes.endsWith("\n" + line(second)) || bytes.endsWith("\r" + line(second));
        EXPECT_TRUE(startsFresh) << row.name;
        EXPECT_EQ(ids(store.all()), row.expected) << row.name;
    }
    // A terminated log gets no blank line in between.
    writeFile(path, line(first));
    SnapshotStore store(path);
    store.append(second);
    EXPECT_EQ(readFile(path), line(first) + line(second));
}

TEST_F(SnapshotStoreTest, SnapshotsFiltersAndSortsAscendingKeepingFileOrderOnTies)
{
    const UsageSnapshot late = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 2, 1, 12), 30);
    const UsageSnapshot early = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 2, 1, 8), 10);
    const UsageSnapshot tieA = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 2, 1, 10), 20);
    const UsageSnapshot tieB = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 2, 1, 10), 21);
    const UsageSnapshot otherWindow = reading(Provider::codex, WindowKind::sevenDay, utc(2026, 2, 1, 9), 42);
    const UsageSnapshot otherProvider =
        reading(Provider::claude, WindowKind::fiveHour, utc(2026, 2, 1, 9), 42);
    writeFile(path,
              line(late) + line(otherWindow) + line(tieA) + line(otherProvider) + line(early) + line(tieB));
    SnapshotStore store(path);
    EXPECT_EQ(ids(store.snapshots(Provider::codex, WindowKind::fiveHour)),
              (QList<QUuid>{early.id, tieA.id, tieB.id, late.id}));
    EXPECT_EQ(ids(store.snapshots(Provider::claude, WindowKind::fiveHour)), QList<QUuid>{otherProvider.id});
    EXPECT_TRUE(store.snapshots(Provider::claude, WindowKind::monthly).isEmpty());
}

TEST_F(SnapshotStoreTest, PruneKeepsWhatIsInsideTheRetentionAndRewritesTheFile)
{
    const QDateTime now = utc(2026, 3, 1, 12);
    const ManualClock clock(now);
    const UsageSnapshot old = reading(Provider::codex, WindowKind::fiveHour, now.addDays(-10), 42);
    const UsageSnapshot recent = reading(Provider::codex, WindowKind::fiveHour, now.addDays(-2), 42);
    const UsageSnapshot future = reading(Provider::claude, WindowKind::fiveHour, now.addSecs(3600), 42);
    // Another writer's forms of a line: spacing, key order, a member and a provider this version lacks.
    const QByteArray foreignRecent = "  {\"addedLater\": [1, 2], " + line(recent).mid(1);
    const QByteArray otherProvider = "{\"provider\":\"gemini\",\"timestamp\":\"" +
                                     JsonLines::formatDate(recent.timestamp).toUtf8() + "\"}\n";
    const QByteArray otherProviderOld = QByteArray(otherProvider)
                                            .replace(JsonLines::formatDate(recent.timestamp).toUtf8(),
                                                     JsonLines::formatDate(old.timestamp).toUtf8());
    struct Row
    {
        const char* name;
        QByteArray content;
        qint64 retentionDays;
        QByteArray expectedFile;
    };
    const Row rows[] = {
        {"keeps the recent in file order", line(recent) + line(old) + line(future), 7,
         line(recent) + line(future)},
        {"zero keeps only now and later", line(old) + line(recent) + line(future), 0, line(future)},
        {"negative counts as zero", line(old) + line(future), -5, line(future)},
        {"nothing left gives an empty file", line(old) + line(recent), 0, ""},
        {"rewritten even when nothing goes", line(old) + "\ngarbage\n" + line(recent), 30,
         line(old) + line(recent)},
        {"huge retention keeps everything", line(old), std::numeric_limits<qint64>::max(), line(old)},
        {"survivors stay byte for byte", foreignRecent + otherProviderOld + line(old) + otherProvider, 7,
         foreignRecent + otherProvider},
    };
    for (const Row& row : rows) {
        writeFile(path, row.content);
        SnapshotStore store(path);
        EXPECT_TRUE(store.prune(row.retentionDays, clock)) << row.name;
        EXPECT_EQ(readFile(path), row.expectedFile) << row.name;
        EXPECT_TRUE(QFileInfo::exists(path)) << row.name;
    }
}

TEST_F(SnapshotStoreTest, UnreadableOrMissingPlacesDegradeQuietlyAndNeverLoseTheLog)
{
    // A FIFO stands for a log that cannot be read (file permissions do not stop root).
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    {
        SnapshotStore store(path);
        EXPECT_TRUE(store.all().isEmpty());
        store.append(first); // must neither block nor write into the pipe
        store.prune(0);
        struct stat info = {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "prune replaced a log it could not read";
    }
    QFile::remove(path);

    // A folder that does not exist: nothing is created, nothing fails loudly.
    const QString missing = dir.filePath(QStringLiteral("gone/snapshots.ndjson"));
    SnapshotStore store(missing);
    store.append(first);
    EXPECT_TRUE(store.all().isEmpty());
    store.prune(1);
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(SnapshotStoreTest, ReadOnlyFolderKeepsTheLogIntact)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    writeFile(path, line(first));
    SnapshotStore store(path);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
    store.prune(0);
    store.append(second); // the log itself is still writable
    const auto exported = store.exportCSV(dir.filePath(QStringLiteral("out.csv")));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(readFile(path), line(first) + line(second));
    EXPECT_FALSE(exported.has_value());
}

TEST_F(SnapshotStoreTest, PruneLosesNoLineThatAnotherProcessAppendsMeanwhile)
{
    // The other writer follows the same protocol as the status-line bridge: flock on the lock file,
    // open the log, append one line, close, unlock.
    const char* script = R"PY(
import datetime, fcntl, sys, time, uuid
path, count = sys.argv[1], int(sys.argv[2])
stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
for i in range(count):
    ident = str(uuid.uuid4()).upper()
    line = ('{"id":"%s","provider":"claude","timestamp":"%s","windowKind":"fiveHour","usedPercent":%d,'
            '"remainingPercent":%d,"source":"claude.statusline","sourceConfidence":"high"}\n'
            % (ident, stamp, i % 100, 100 - i % 100))
    with open(path + ".lock", "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with open(path, "a") as log:
            log.write(line)
        fcntl.flock(lock, fcntl.LOCK_UN)
    print(ident, flush=True)
    time.sleep(0.001)
)PY";
    QByteArray seed;
    for (int i = 0; i < 1000; ++i)
        seed += line(
            reading(Provider::codex, WindowKind::fiveHour, QDateTime::currentDateTimeUtc().addSecs(-i), 42));
    writeFile(path, seed);
    SnapshotStore store(path);

    QProcess writer;
    writer.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QString::fromUtf8(script), path, QStringLiteral("200")});
    ASSERT_TRUE(writer.waitForStarted(5000));
    int prunes = 0;
    while (writer.state() != QProcess::NotRunning) {
        store.prune(30);
        ++prunes;
        writer.waitForFinished(0);
    }
    ASSERT_EQ(writer.exitCode(), 0) << writer.readAllStandardError().constData();
    const QList<QByteArray> written = writer.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(written.size(), 200);
    EXPECT_GT(prunes, 5) << "the prunes did not overlap the appends";

    QSet<QUuid> stored;
    for (const UsageSnapshot& s : store.all())
        stored.insert(s.id);
    int lost = 0;
    for (const QByteArray& id : written)
        lost += stored.contains(QUuid::fromString(QLatin1StringView(id))) ? 0 : 1;
    EXPECT_EQ(lost, 0) << "of " << written.size() << " lines appended during " << prunes << " prunes";
    EXPECT_EQ(stored.size(), 1000 + 200);
}

TEST_F(SnapshotStoreTest, ChangedFileReadsOnlyWhatWasAppendedOrReadsAgainWhole)
{
    const UsageSnapshot third = reading(Provider::codex, WindowKind::weekly, utc(2026, 2, 2), 30);
    const auto later = [](const QString& file) {
        TestSupport::setModified(file, QFileInfo(file).lastModified().addSecs(10));
    };
    const auto overwriteAt = [](const QString& file, qint64 offset, const QByteArray& bytes) {
        QFile f(file);
        f.open(QIODevice::ReadWrite);
        f.seek(offset);
        f.write(bytes);
    };
    enum class Path
    {
        incremental,
        full
    };
    struct Row
    {
        const char* name;
        QByteArray initial;
        std::function<void(const QString&)> change;
        Path expected;
    };
    QByteArray sameSize = line(second);
    sameSize.replace("\"usedPercent\":20", "\"usedPercent\":21");
    sameSize.replace("\"remainingPercent\":80", "\"remainingPercent\":70");
    const Row rows[] = {
        {"one line appended", line(first) + line(second),
         [&](const QString& f) { appendFile(f, line(third)); }, Path::incremental},
        {"torn last line completed", line(first) + line(second).left(30),
         [&](const QString& f) { appendFile(f, line(second).mid(30) + line(third)); }, Path::incremental},
        {"unterminated object followed by more", line(first) + line(second).chopped(1),
         [&](const QString& f) { appendFile(f, "\n" + line(third)); }, Path::incremental},
        {"rewritten in place to the same size", line(first) + line(second),
         [&](const QString& f) {
             overwriteAt(f, line(first).size(), sameSize);
             later(f);
         },
         Path::full},
        {"only the modification time", line(first) + line(second), later, Path::full},
        {"grew but the old end changed", line(first) + line(second),
         [&](const QString& f) {
             overwriteAt(f, line(first).size(), sameSize);
             appendFile(f, line(third));
         },
         Path::full},
        {"replaced by a new file", line(first),
         [&](const QString& f) {
             const QString other = f + QStringLiteral(".new");
             writeFile(other, line(first) + line(third));
             ::rename(QFile::encodeName(other).constData(), QFile::encodeName(f).constData());
         },
         Path::full},
        {"shrunk", line(first) + line(second), [&](const QString& f) { writeFile(f, line(third)); },
         Path::full},
    };
    for (const Row& row : rows) {
        writeFile(path, row.initial);
        SnapshotStore store(path);
        store.all();
        const SnapshotStore::ReadStats before = store.readStats();
        row.change(path);
        const QList<UsageSnapshot> cached = store.all();
        const SnapshotStore::ReadStats after = store.readStats();

        SnapshotStore fresh(path);
        EXPECT_EQ(ids(cached), ids(fresh.all())) << row.name;
        EXPECT_EQ(cached, fresh.all()) << row.name;
        const bool incremental = row.expected == Path::incremental;
        EXPECT_EQ(after.incrementalReads - before.incrementalReads, incremental ? 1 : 0) << row.name;
        EXPECT_EQ(after.fullReads - before.fullReads, incremental ? 0 : 1) << row.name;
        if (incremental) {
            EXPECT_LT(after.bytesDecoded - before.bytesDecoded, QFileInfo(path).size()) << row.name;
        }
    }
}

// The application keeps the last log published while the store reads on: that copy must stay as it was,
// and the new log must share its full chunks with it instead of copying the whole log.
TEST_F(SnapshotStoreTest, AHeldLogKeepsItsContentsAndSharesChunksWithTheNextOne)
{
    const qsizetype lines = SnapshotLog::chunkCapacity + 50;
    QByteArray text;
    QList<UsageSnapshot> written;
    for (qsizetype i = 0; i < lines; ++i) {
        written.append(
            reading(Provider::codex, WindowKind::fiveHour, utc(2026, 1, 1).addSecs(i), double(i % 100)));
        text += line(written.last());
    }
    const UsageSnapshot unfinished = reading(Provider::claude, WindowKind::sevenDay, utc(2026, 2, 1), 55);
    QByteArray tail = line(unfinished);
    tail.chop(1);
    writeFile(path, text + tail);

    SnapshotStore store(path);
    const SnapshotLog held = store.log();
    ASSERT_EQ(held.size(), lines + 1);
    const QList<UsageSnapshot> heldBefore = held.toList();

    // Finishes the unterminated line and adds one more: the cached tail is dropped and decoded again.
    appendFile(path, "\n" + line(second));
    const SnapshotLog next = store.log();
    EXPECT_EQ(store.readStats().incrementalReads, 1);
    EXPECT_TRUE(held.toList() == heldBefore);
    EXPECT_EQ(next.size(), lines + 2);
    EXPECT_GE(next.sharedPrefixSize(held), SnapshotLog::chunkCapacity);
    EXPECT_EQ(&next[0], &held[0]);
    SnapshotStore fresh(path);
    EXPECT_TRUE(next == fresh.log());
    EXPECT_EQ(ids(store.all()), ids(fresh.all()));
}

// The CSV itself, its order and its default place are the command-line export test's business.
TEST_F(SnapshotStoreTest, FailedExportIsLoggedAndReturnsNothing)
{
    writeFile(path, line(first));
    SnapshotStore store(path);
    const QString target = dir.filePath(QStringLiteral("no-such-folder/export.csv"));
    EXPECT_FALSE(store.exportCSV(target).has_value());
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(store.lastExportError().isEmpty());
    EXPECT_EQ(AppLogger::shared().lastError(),
              QStringLiteral("CSV export failed: ") + store.lastExportError());
}

TEST_F(SnapshotStoreTest, ABusyLockDelaysAnAppendBrieflyAndKeepsItsSnapshotsForTheNextTry)
{
    const UsageSnapshot third = reading(Provider::codex, WindowKind::weekly, utc(2026, 2, 2), 30);
    const UsageSnapshot fourth = reading(Provider::claude, WindowKind::fiveHour, utc(2026, 2, 3), 40);
    ManualClock clock(utc(2026, 2, 1));
    SnapshotStore store(path, {&clock, std::chrono::milliseconds(50)});
    const auto failureEntries = [] {
        AppLogger::shared().flush();
        QList<QByteArray> found;
        for (const QByteArray& entry : readFile(LocalFileStore::logPath()).split('\n'))
            if (entry.contains("Snapshot log append failed"))
                found.append(entry);
        return found;
    };
    const qsizetype before = failureEntries().size();

    // Another writer hangs while it holds the lock.
    const int holder = ::open(QFile::encodeName(store.lockFileName()).constData(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(store.append(first));
    EXPECT_LT(waited.elapsed(), 5000); // generous for a loaded machine; unbounded, it never returns
    EXPECT_FALSE(store.append(QList<UsageSnapshot>{second, third}));
    EXPECT_FALSE(store.prune(0));
    EXPECT_TRUE(store.all().isEmpty());
    // Failures are logged at most once a minute while they go on.
    EXPECT_EQ(failureEntries().size(), before + 1);
    clock.advance(61);
    EXPECT_FALSE(store.append(fourth));
    const QList<QByteArray> entries = failureEntries();
    ASSERT_EQ(entries.size(), before + 2);
    EXPECT_TRUE(entries.last().contains("4 snapshots wait for the next try")) << entries.last().constData();
    ::close(holder);

    // The next read takes the lock and writes what waited, in order.
    EXPECT_EQ(ids(store.all()), (QList<QUuid>{first.id, second.id, third.id, fourth.id}));
    EXPECT_EQ(store.pendingBytes(), 0);
}

TEST_F(SnapshotStoreTest, ABatchThatDoesNotFitLandsNotAtAllInsteadOfInPart)
{
    const UsageSnapshot third = reading(Provider::codex, WindowKind::weekly, utc(2026, 2, 2), 30);
    writeFile(path, line(first));
    SnapshotStore store(path);
    // The file may grow by about one line only, so the second line of the batch would be cut short.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit saved = limit;
    limit.rlim_cur = rlim_t(line(first).size() + line(second).size() + 10);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool appended = store.append(QList<UsageSnapshot>{second, third});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(appended);
    EXPECT_EQ(readFile(path), line(first));
    EXPECT_EQ(ids(store.all()), (QList<QUuid>{first.id, second.id, third.id}));
}

TEST_F(SnapshotStoreTest, ALongLogIsReadInBoundedPiecesAndSharesItsRepeatedStrings)
{
    // Over two pieces of the reader, with a record longer than the line limit across the first border.
    UsageSnapshot huge = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 1, 1), 1);
    // Written by hand: the store itself cuts a name this long.
    huge.planType = QStringLiteral("HUGE");
    const QByteArray hugeLine =
        line(huge).replace("\"HUGE\"", '"' + QByteArray(SnapshotStore::maxLineBytes + 100, 'x') + '"');
    QByteArray text;
    QList<QUuid> expected;
    bool hugeWritten = false;
    for (int i = 0; text.size() < 5 * 512 * 1024; ++i) {
        if (!hugeWritten && text.size() > 1024 * 1024 - 30'000) {
            text += hugeLine;
            hugeWritten = true;
        }
        UsageSnapshot s = reading(i % 2 ? Provider::codex : Provider::claude, WindowKind::fiveHour,
                                  utc(2026, 1, 1).addSecs(i), double(i % 100));
        s.planType = QStringLiteral("max");
        text += line(s);
        expected.append(s.id);
    }
    writeFile(path, text);
    SnapshotStore store(path);
    const QList<UsageSnapshot> loaded = store.all();
    EXPECT_EQ(ids(loaded), expected);
    EXPECT_LE(store.readStats().peakBufferBytes, 1024 * 1024 + SnapshotStore::maxLineBytes);
    ASSERT_GE(loaded.size(), 3);
    EXPECT_EQ(loaded[0].planType->constData(), loaded.last().planType->constData());
    EXPECT_EQ(loaded[1].source.constData(), loaded[loaded.size() - 1 - loaded.size() % 2].source.constData());
}

TEST_F(SnapshotStoreTest, NewestFollowsEveryReadWithoutAFullScan)
{
    const auto stamped = [](int hour) {
        return reading(Provider::codex, WindowKind::fiveHour, utc(2026, 2, 1, hour), 42);
    };
    const UsageSnapshot ten = stamped(10);
    const UsageSnapshot nine = stamped(9);
    const UsageSnapshot tenAgain = stamped(10);
    const UsageSnapshot eleven = stamped(11);
    writeFile(path, line(ten) + line(nine));
    SnapshotStore store(path);
    const auto newestId = [&] {
        const auto newest = store.newest(Provider::codex, WindowKind::fiveHour);
        return newest ? newest->id : QUuid();
    };
    EXPECT_EQ(newestId(), ten.id);
    EXPECT_FALSE(store.newest(Provider::claude, WindowKind::fiveHour).has_value());
    const qint64 decoded = store.readStats().bytesDecoded;
    EXPECT_EQ(newestId(), ten.id);
    EXPECT_EQ(store.readStats().bytesDecoded, decoded);

    store.append(tenAgain); // equal stamps: the later line wins
    EXPECT_EQ(newestId(), tenAgain.id);
    // An unterminated last line counts while it decodes, and no longer once it is spoilt.
    appendFile(path, line(eleven).chopped(1));
    EXPECT_EQ(newestId(), eleven.id);
    appendFile(path, "garbage\n");
    EXPECT_EQ(newestId(), tenAgain.id);
    EXPECT_EQ(store.readStats().fullReads, 1);
}
