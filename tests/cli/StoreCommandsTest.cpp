#include "core/JsonLines.h"
#include "core/UsageSnapshot.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

struct RunResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

class TallyvaneBinary : public ::testing::Test
{
protected:
    QTemporaryDir dataHome{TestSupport::homePath() + QStringLiteral("/cli-XXXXXX")};
    QString dataFolder = dataHome.filePath(QStringLiteral("Tallyvane"));

    RunResult run(const QStringList& arguments, const QString& workingDirectory = QString())
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
        process.setProcessEnvironment(environment);
        if (!workingDirectory.isEmpty())
            process.setWorkingDirectory(workingDirectory);
        process.start(QStringLiteral(TALLYVANE_BINARY_DIR "/tallyvane"), arguments);
        RunResult result;
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
            return result;
        result.exitCode = process.exitCode();
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    void writeLog(const QByteArray& bytes)
    {
        QDir().mkpath(dataFolder);
        QFile file(dataFolder + QStringLiteral("/snapshots.ndjson"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    static UsageSnapshot snapshot(int hour, const char* plan)
    {
        UsageSnapshot s;
        s.provider = Provider::claude;
        s.windowKind = WindowKind::sevenDay;
        s.timestamp = QDateTime(QDate(2026, 1, 31), QTime(hour, 0), Qt::UTC);
        s.usedPercent = 25;
        s.remainingPercent = 75;
        s.planType = QString::fromUtf8(plan);
        s.source = QStringLiteral("claude.oauth");
        return s;
    }
};

} // namespace

TEST_F(TallyvaneBinary, SimpleModesAndBadOptions)
{
    struct Row
    {
        QStringList arguments;
        int exitCode;
        const char* outContains;
        const char* errContains;
    };
    const Row rows[] = {
        {{"--version"}, 0, "tallyvane " TALLYVANE_VERSION "\n", ""},
        {{"--help"}, 0, "--export-csv [PATH]", ""},
        {{"--frobnicate"}, 2, "", "unknown option '--frobnicate'"},
        {{"--export-csv", "--verbose"}, 2, "", "unknown option '--verbose'"},
        {{"--dumpstore", "--version"}, 2, "", "one option at a time"},
    };
    for (const Row& row : rows) {
        const RunResult result = run(row.arguments);
        EXPECT_EQ(result.exitCode, row.exitCode) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE(result.out.contains(QString::fromUtf8(row.outContains))) << result.out.toStdString();
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(row.errContains))) << result.err.toStdString();
        if (row.exitCode == 2) {
            EXPECT_EQ(result.err.count(QLatin1Char('\n')), 1) << result.err.toStdString();
        }
    }
}

TEST_F(TallyvaneBinary, DumpStorePrintsEachStoredSnapshotOnOneLine)
{
    const UsageSnapshot a = snapshot(9, "pro");
    const UsageSnapshot b = snapshot(8, "max");
    writeLog(JsonLines::encodeLine(a.toJson()) + "\nnot json\n\n" + JsonLines::encodeLine(b.toJson()) + "\n");

    const RunResult result = run({QStringLiteral("--dumpstore")});
    EXPECT_EQ(result.exitCode, 0);
    const QList<UsageSnapshot> printed = JsonLines::decodeLines<UsageSnapshot>(result.out.toUtf8());
    EXPECT_EQ(printed, (QList<UsageSnapshot>{a, b}));
    EXPECT_EQ(result.out.count(QLatin1Char('\n')), 2);

    writeLog("");
    const RunResult empty = run({QStringLiteral("--dumpstore")});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_TRUE(empty.out.isEmpty());
}

TEST_F(TallyvaneBinary, ExportCsvWritesWhereItSays)
{
    writeLog(JsonLines::encodeLine(snapshot(9, "max, 5x").toJson()) + "\n" +
             JsonLines::encodeLine(snapshot(8, "pro").toJson()) + "\n");
    const QByteArray expected =
        "timestamp,provider,window,usedPercent,remainingPercent,resetAt,model,effort,speed,"
        "plan,source,confidence\n"
        "2026-01-31T08:00:00Z,claude,sevenDay,25.0,75.0,,,,,pro,claude.oauth,medium\n"
        "2026-01-31T09:00:00Z,claude,sevenDay,25.0,75.0,,,,,\"max, 5x\",claude.oauth,medium\n";
    struct Row
    {
        QStringList arguments;
        QString expectedPath;
    };
    const Row rows[] = {
        {{"--export-csv"}, dataFolder + "/tallyvane-export.csv"},
        {{"--export-csv", dataHome.filePath("chosen.csv")}, dataHome.filePath("chosen.csv")},
        {{"--export-csv", "relative.csv"}, dataHome.filePath("relative.csv")},
    };
    for (const Row& row : rows) {
        const RunResult result = run(row.arguments, dataHome.path());
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(row.expectedPath)) << result.out.toStdString();
        QFile written(row.expectedPath);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << row.expectedPath.toStdString();
        EXPECT_EQ(written.readAll(), expected);
    }

    const QString nowhere = dataHome.filePath(QStringLiteral("missing/export.csv"));
    const RunResult failed = run({QStringLiteral("--export-csv"), nowhere});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_TRUE(failed.err.contains(QStringLiteral("CSV export to ") + nowhere + QStringLiteral(" failed: ")))
        << failed.err.toStdString();
    EXPECT_FALSE(QFile::exists(nowhere));
}

TEST_F(TallyvaneBinary, ExportCsvReplacesOnlyARegularFileAndSaysWhyNot)
{
    QByteArray log; // its export outgrows one page
    for (int minute = 0; minute < 200; ++minute) {
        UsageSnapshot s = snapshot(0, "max");
        s.timestamp = s.timestamp.addSecs(minute * 60);
        log += JsonLines::encodeLine(s.toJson()) + "\n";
    }
    writeLog(log);
    const auto typeOf = [](const QString& path) {
        struct stat info
        {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & S_IFMT : 0;
    };

    // Through a symbolic link: the link stays, the file it points to gets the export.
    const QString target = dataHome.filePath(QStringLiteral("target.csv"));
    const QString link = dataHome.filePath(QStringLiteral("link.csv"));
    QFile(target).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::link(target, link));
    const RunResult linked = run({QStringLiteral("--export-csv"), link});
    EXPECT_EQ(linked.exitCode, 0) << linked.err.toStdString();
    EXPECT_EQ(typeOf(link), mode_t(S_IFLNK));
    QFile written(target);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().startsWith("timestamp,provider,"));

    // Anything but a regular file is left alone.
    const QString fifo = dataHome.filePath(QStringLiteral("fifo.csv"));
    const QString folder = dataHome.filePath(QStringLiteral("folder.csv"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    ASSERT_TRUE(QDir().mkdir(folder));
    for (const auto& [path, type] : {std::pair{fifo, mode_t(S_IFIFO)}, std::pair{folder, mode_t(S_IFDIR)}}) {
        const RunResult refused = run({QStringLiteral("--export-csv"), path});
        EXPECT_EQ(refused.exitCode, 1) << path.toStdString();
        EXPECT_EQ(refused.err,
                  QStringLiteral("tallyvane: CSV export to %1 failed: %1 is not a regular file\n").arg(path));
        EXPECT_EQ(typeOf(path), type) << path.toStdString();
    }

    // A full disk: a one-page file system of its own, mounted in a private namespace.
    const QString tiny = dataHome.filePath(QStringLiteral("tiny"));
    QDir().mkdir(tiny);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    process.setProcessEnvironment(environment);
    process.start(
        QStringLiteral("unshare"),
        {QStringLiteral("-rm"), QStringLiteral("sh"), QStringLiteral("-c"),
         QStringLiteral("mount -t tmpfs -o size=4k tmpfs \"$1\" || exit 77; exec \"$2\" --export-csv "
                        "\"$1/out.csv\""),
         QStringLiteral("sh"), tiny, QStringLiteral(TALLYVANE_BINARY_DIR "/tallyvane")});
    ASSERT_TRUE(process.waitForFinished(30000));
    if (process.exitCode() == 77 || process.error() == QProcess::FailedToStart)
        GTEST_SKIP() << "no private mount namespace here";
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(process.readAllStandardError().endsWith("failed: No space left on device\n"));
}
