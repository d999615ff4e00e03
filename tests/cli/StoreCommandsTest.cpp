#include "CliProcess.h"
#include "core/text/Zone.h"
#include "support/OtherUser.h"

#include <gtest/gtest.h>

#include <QDirIterator>

#include <sys/stat.h>
#include <unistd.h>

using namespace CliTest;

namespace {

UsageSnapshot snapshot(int hour, const char* plan)
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, WindowKind::sevenDay,
                                           QDateTime(QDate(2026, 1, 31), QTime(hour, 0), Zone::utc()), 25);
    s.planType = QString::fromUtf8(plan);
    return s;
}

// Refused options are the command-line table's business (StatusCommandTest).
TEST(StoreCommands, VersionAndDumpStorePrintEachStoredSnapshotOnOneLine)
{
    Home home;
    const ProcessResult version = run(home, {QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("tallyvane " TALLYVANE_VERSION "\n"));
    EXPECT_EQ(run(home, {QStringLiteral("--dumpstore")}).out, QString()) << "no log yet";

    const UsageSnapshot a = snapshot(9, "pro");
    const UsageSnapshot b = snapshot(8, "max");
    ASSERT_TRUE(TestSupport::writeFile(home.file(QStringLiteral("snapshots.ndjson")),
                                       JsonLines::encodeLine(a.toJson()) + "\nnot json\n\n" +
                                           JsonLines::encodeLine(b.toJson()) + "\n"));
    const ProcessResult result = run(home, {QStringLiteral("--dumpstore")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(JsonLines::decodeLines<UsageSnapshot>(result.out.toUtf8()), (QList<UsageSnapshot>{a, b}));
    EXPECT_EQ(result.out.count(QLatin1Char('\n')), 2);
}

TEST(StoreCommands, ExportAndDumpStreamALongLogInBoundedMemory)
{
    Home home;
    // About 32 MB, written fast from one line with changing stamps.
    UsageSnapshot s = snapshot(0, "max");
    s.modelId = QStringLiteral("claude-opus-4-5-20251101");
    s.resetAt = s.timestamp.addSecs(3 * 3600);
    const QByteArray model = JsonLines::encodeLine(s.toJson()) + '\n';
    const QByteArray stamp = JsonLines::formatDate(s.timestamp).toUtf8();
    QByteArray log;
    qint64 lines = 0;
    for (; log.size() < 32 << 20; ++lines)
        log += QByteArray(model).replace(stamp,
                                         JsonLines::formatDate(s.timestamp.addSecs(lines % 7919)).toUtf8());
    ASSERT_TRUE(TestSupport::writeFile(home.file(QStringLiteral("snapshots.ndjson")), log));
    log.clear();

    const QString csv = home.path() + QStringLiteral("/big.csv");
    // The export holds one batch of rows, the dump one piece of the file: a whole-log copy (91 and 34 MB
    // here before they streamed) exceeds either bound.
    const std::pair<QStringList, qint64> rows[] = {{{QStringLiteral("--export-csv"), csv}, 64 * 1024},
                                                   {{QStringLiteral("--dumpstore")}, 28 * 1024}};
    for (const auto& [arguments, boundKiB] : rows) {
        QProcess process;
        process.setProcessEnvironment(home.environment());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral("/usr/bin/time"),
                      QStringList{QStringLiteral("-f"), QStringLiteral("%M"), binary()} + arguments);
        ASSERT_TRUE(process.waitForFinished(120'000)) << arguments.join(' ').toStdString();
        EXPECT_EQ(process.exitCode(), 0) << arguments.join(' ').toStdString();
        const qint64 peakKiB = process.readAllStandardError().trimmed().split('\n').last().toLongLong();
        EXPECT_GT(peakKiB, 0);
#ifndef __SANITIZE_ADDRESS__ // the sanitizer's own bookkeeping would be measured too
        EXPECT_LE(peakKiB, boundKiB) << arguments.join(' ').toStdString();
#endif
    }
    EXPECT_EQ(TestSupport::readFile(csv).count('\n'), lines + 1);
}

TEST(StoreCommands, ExportCsvWritesWhereItSays)
{
    Home home;
    home.writeLog({snapshot(9, "max, 5x"), snapshot(8, "pro")});
    const QByteArray expected =
        "timestamp,provider,window,usedPercent,remainingPercent,resetAt,model,effort,speed,"
        "plan,source,confidence\n"
        "2026-01-31T08:00:00Z,claude,sevenDay,25.0,75.0,,,,,pro,claude.oauth,high\n"
        "2026-01-31T09:00:00Z,claude,sevenDay,25.0,75.0,,,,,\"max, 5x\",claude.oauth,high\n";
    const std::pair<QStringList, QString> rows[] = {
        {{"--export-csv"}, home.file("tallyvane-export.csv")},
        {{"--export-csv", home.path() + "/chosen.csv"}, home.path() + "/chosen.csv"},
        {{"--export-csv", "relative.csv"}, home.path() + "/relative.csv"},
    };
    for (const auto& [arguments, path] : rows) {
        const ProcessResult result = run(home, arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(path)) << result.out.toStdString();
        EXPECT_EQ(TestSupport::readFile(path), expected) << path.toStdString();
    }
}

TEST(StoreCommands, ExportCsvReplacesOnlyARegularFileAndSaysWhyNot)
{
    Home home;
    QList<UsageSnapshot> log; // its export outgrows one page
    for (int minute = 0; minute < 200; ++minute) {
        log.append(snapshot(0, "max"));
        log.last().timestamp = log.last().timestamp.addSecs(minute * 60);
    }
    home.writeLog(log);
    const auto typeOf = [](const QString& path) {
        struct stat info = {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & S_IFMT : 0;
    };

    // Links, folders and the rest are AtomicFileTest's table; here how a refusal is told.
    const QString fifo = home.path() + QStringLiteral("/fifo.csv");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    const ProcessResult refused = run(home, {QStringLiteral("--export-csv"), fifo});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              QStringLiteral("tallyvane: CSV export to %1 failed: %1 is not a regular file\n").arg(fifo));
    EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));

    // A full disk: a one-page file system of its own, mounted in a private namespace.
    const QString tiny = home.path() + QStringLiteral("/tiny");
    QDir().mkdir(tiny);
    QProcess process;
    process.setProcessEnvironment(home.environment());
    process.start(
        QStringLiteral("unshare"),
        {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("mount -t tmpfs -o size=4k tmpfs \"$1\" || exit 77; exec \"$2\" --export-csv "
                        "\"$1/out.csv\""),
         QStringLiteral("sh"), tiny, binary()});
    ASSERT_TRUE(process.waitForFinished(30000));
    const QByteArray err = process.readAllStandardError();
    // Refused where user namespaces are (in a chroot, say): unshare says so itself.
    if (process.exitCode() == 77 || process.error() == QProcess::FailedToStart || err.startsWith("unshare:"))
        GTEST_SKIP() << "no private mount namespace here: " << err.toStdString();
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(err.endsWith("failed: No space left on device\n")) << err.toStdString();
}

// Another account's link in a shared folder once made the export replace ~/.bashrc or create an autostart
// entry; the user's own link is followed as before.
TEST(StoreCommands, ExportCsvRefusesAnotherUsersLink)
{
    if (!OtherUser::available())
        GTEST_SKIP() << "handing a link to another user takes root";
    Home home;
    home.writeLog({snapshot(9, "pro")});
    const QString bashrc = home.path() + QStringLiteral("/.bashrc");
    ASSERT_TRUE(TestSupport::writeFile(bashrc, "mine\n"));
    const QString autostart = home.path() + QStringLiteral("/.config/autostart");
    ASSERT_TRUE(QDir().mkpath(autostart));
    const QString planted = autostart + QStringLiteral("/evil.desktop");
    // The link at the path itself, and one to a folder on the way to it.
    const std::pair<QString, const char*> rows[] = {
        {bashrc, ""}, {planted, ""}, {autostart, "/evil.desktop"}};
    for (const auto& [target, below] : rows) {
        const QString link = home.path() + QStringLiteral("/shared.csv");
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(target, link));
        ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), OtherUser::uid, OtherUser::uid), 0);
        const ProcessResult refused =
            run(home, {QStringLiteral("--export-csv"), link + QLatin1String(below)});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(refused.err,
                  QStringLiteral("tallyvane: CSV export to %1%2 failed: %1 is a symbolic link that "
                                 "belongs to another user; it is not followed\n")
                      .arg(link, QLatin1String(below)));
        EXPECT_EQ(TestSupport::readFile(bashrc), "mine\n");
        EXPECT_FALSE(QFileInfo::exists(planted));
    }
}

// What an older version left: folders and files open to everyone.
void writeOpenTree(const Home& home)
{
    home.writeLog({snapshot(9, "pro")});
    ASSERT_TRUE(TestSupport::writeFile(home.file(QStringLiteral("logs/app.log")), "old\n"));
    ASSERT_TRUE(TestSupport::writeFile(home.file(QStringLiteral("usage-history-cache.json")), "old"));
    for (const QString& path : {home.dataFolder(), home.file(QStringLiteral("logs"))})
        ::chmod(QFile::encodeName(path).constData(), 0755);
    for (const char* name : {"snapshots.ndjson", "logs/app.log", "usage-history-cache.json"})
        ::chmod(QFile::encodeName(home.file(QLatin1String(name))).constData(), 0644);
}

// Each entry of the data folder (and of `more`) that is not 0700 for a folder or 0600 for a file, with its
// mode.
QStringList notPrivate(const Home& home, const QStringList& more = {})
{
    QStringList wrong;
    const auto check = [&](const QString& path) {
        struct stat info = {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        if ((info.st_mode & 07777) != (S_ISDIR(info.st_mode) ? 0700u : 0600u))
            wrong.append(QStringLiteral("%1 %2").arg(path).arg(info.st_mode & 07777, 0, 8));
    };
    check(home.dataFolder());
    for (const QString& path : more)
        check(path);
    QDirIterator walk(home.dataFolder(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        check(walk.next());
    return wrong;
}

// Under the usual umask 022 the data folder was 0755 and every file in it 0644: project names and quota
// history readable by every account.
TEST(StoreCommands, DataFolderAndExportArePrivate)
{
    Home home;
    writeOpenTree(home);

    const mode_t savedUmask = ::umask(022);
    const QString mine = home.path() + QStringLiteral("/mine.csv");
    for (const QStringList& arguments :
         {QStringList{"--install-claude-bridge"}, QStringList{"--export-csv"},
          QStringList{"--export-csv", mine}, QStringList{"--export-csv", home.path() + "/missing/x.csv"}})
        run(home, arguments);
    // The bridge as Claude Code runs it, with a reading to record.
    QProcess bridge;
    bridge.setProcessEnvironment(home.environment());
    bridge.start(QStringLiteral("python3"),
                 {home.file(QStringLiteral("tallyvane-claude-statusline-bridge.py"))});
    bridge.write(
        R"({"model":{"id":"m","display_name":"M"},"rate_limits":{"five_hour":{"used_percentage":5}}})");
    bridge.closeWriteChannel();
    ASSERT_TRUE(bridge.waitForFinished(30'000));
    ::umask(savedUmask);

    EXPECT_EQ(notPrivate(home, {mine}), QStringList());
    for (const char* name :
         {"snapshots.ndjson", "snapshots.ndjson.lock", "tallyvane-export.csv", "logs/app.log",
          "tallyvane-claude-statusline-bridge.py", "claude-meta.json", "claude-statusline-state.json"})
        EXPECT_TRUE(QFileInfo::exists(home.file(QLatin1String(name)))) << name;
}

// `usage` made a new data folder through a plain mkpath: 0755 under umask 022, while the others made it 0700.
// The reading commands left an older open tree as it was, and `usage` rewrote its cache keeping 0644: another
// account read project names from it. (`top --no-collect`: top-in-tmux.sh.)
TEST(StoreCommands, EveryCommandLeavesTheDataFolderPrivate)
{
    const mode_t savedUmask = ::umask(022);
    const std::pair<QStringList, bool> rows[] = {
        // the arguments, whether they make a new data folder
        {{"usage"}, true},        {{"usage", "--json"}, true}, {{"--install-claude-bridge"}, true},
        {{"--export-csv"}, true}, {{"status"}, false},         {{"--dumpstore"}, false},
    };
    for (const auto& [arguments, makes] : rows) {
        for (const bool older : {false, true}) {
            Home home;
            if (older)
                writeOpenTree(home);
            run(home, arguments);
            SCOPED_TRACE(arguments.join(' ').toStdString() + (older ? " (older tree)" : ""));
            const bool exists = QFileInfo::exists(home.dataFolder());
            EXPECT_EQ(exists, older || makes);
            EXPECT_EQ(exists ? notPrivate(home) : QStringList(), QStringList());
        }
    }
    ::umask(savedUmask);
}

// A data folder another account could change, itself or through a folder above it (a 0777 XDG_DATA_HOME),
// could have its bridge script swapped for code that then runs as this user and reads this user's readings.
TEST(StoreCommands, ADataFolderAnotherUserCanChangeIsRefused)
{
    if (!OtherUser::available())
        GTEST_SKIP() << "handing a folder to another user takes root";
    const QString refusal = "tallyvane: The data folder {folder}%1; Tallyvane will not use it.\n";
    const QString owned = refusal.arg(" is in {parent}, which belongs to another user (uid {uid})");
    const QString open = refusal.arg(" is in {parent}, which other users may write to");
    const struct
    {
        const char* prepare; // sh with $1 the data folder, $2 its parent, $3 the other user's uid
        QString said;        // empty: not refused
        int lines;           // of the log printed
    } rows[] = {
        {R"(chown $3 "$1")", refusal.arg(" belongs to another user (uid {uid})"), 0},
        {R"(chown $3 "$2")", owned, 0},
        {R"(rm -r "$1" && chown $3 "$2")",
         "tallyvane: The data folder would be made in {parent}, which belongs to another user (uid {uid}); "
         "Tallyvane will not use it.\n",
         0},
        {R"(chmod 0777 "$2")", open, 0},
        {R"(chmod 1777 "$2" && chown $3 "$1")", refusal.arg(" belongs to another user (uid {uid})"), 0},
        {R"(chmod 1777 "$2")", {}, 1},
        {R"(mv "$2" "$2.real" && ln -s "$2.real" "$2" && chown -h $3 "$2")", owned, 0},
        // Files in it are opened as they stand, not through a link, and only when they are this user's.
        {R"(mv "$1/snapshots.ndjson" "$2.log" && ln -s "$2.log" "$1/snapshots.ndjson")", {}, 0},
        {R"(chown $3 "$1/snapshots.ndjson")", {}, 0},
    };
    for (const auto& row : rows) {
        Home home;
        home.writeLog({snapshot(9, "pro")});
        const QString parent = QFileInfo(home.dataFolder()).path();
        const QString uid = QString::number(OtherUser::uid);
        ASSERT_EQ(QProcess::execute("sh", {"-c", row.prepare, "sh", home.dataFolder(), parent, uid}), 0);
        const QStringList before = home.listing();
        const ProcessResult result = run(home, {QStringLiteral("--dumpstore")});
        const QString said = QString(row.said)
                                 .replace("{folder}", home.dataFolder())
                                 .replace("{parent}", parent)
                                 .replace("{uid}", uid);
        EXPECT_EQ(result.exitCode, said.isEmpty() ? 0 : 1) << row.prepare;
        EXPECT_EQ(result.err, said) << row.prepare;
        EXPECT_EQ(result.out.count(QLatin1Char('\n')), row.lines) << row.prepare;
        EXPECT_EQ(home.listing(), before) << row.prepare; // refused or only read: nothing written
    }
}

// Root with another user's HOME (sudo -E) rewrote that user's credential and settings as root's own and made
// their data folder root's: they were signed out of Claude Code and their own Tallyvane refused to start.
TEST(StoreCommands, EveryCommandRefusesTheFoldersOfAnotherUser)
{
    if (!OtherUser::available())
        GTEST_SKIP() << "handing a folder to another user takes root";
    const struct
    {
        const char* made;  // below the home, by this user
        const char* owned; // below the home (empty: the home itself), handed to the other user
        const char* said;
    } rows[] = {
        {".claude", ".claude",
         "Claude's folder %1 belongs to another user (uid %2); Tallyvane will not touch it."},
        {"data", "",
         "The data folder would be made in %1, which belongs to another user (uid %2); "
         "Tallyvane will not use it."},
        {"data", "data",
         "The data folder would be made in %1, which belongs to another user (uid %2); "
         "Tallyvane will not use it."},
        {"data/Tallyvane", "data/Tallyvane",
         "The data folder %1 belongs to another user (uid %2); Tallyvane will not use it."},
    };
    const QStringList commands[] = {{},      {"status"},     {"usage"},
                                    {"top"}, {"--headless"}, {"--install-claude-bridge"}};
    for (const auto& row : rows) {
        Home home;
        ASSERT_TRUE(QDir().mkpath(home.path() + QLatin1Char('/') + QLatin1String(row.made)));
        const QString owned = QDir::cleanPath(home.path() + QLatin1Char('/') + QLatin1String(row.owned));
        ASSERT_EQ(::chown(QFile::encodeName(owned).constData(), OtherUser::uid, OtherUser::uid), 0);
        const QStringList before = home.listing();
        for (const QStringList& command : commands) {
            const ProcessResult refused = run(home, command);
            const std::string context = row.owned + (": " + command.join(' ').toStdString());
            EXPECT_EQ(refused.exitCode, 1) << context;
            EXPECT_EQ(refused.err,
                      "tallyvane: " + QString::fromLatin1(row.said).arg(owned).arg(OtherUser::uid) + '\n')
                << context;
            EXPECT_EQ(home.listing(), before) << context;
        }
    }
}

} // namespace
