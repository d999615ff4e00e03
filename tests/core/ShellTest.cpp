#include "core/io/Shell.h"
#include "core/io/AppLogger.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

constexpr QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions executable = plain | QFile::ExeOwner;

QString script(const QTemporaryDir& dir, const QString& name, const QByteArray& body)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(TestSupport::writeFile(path, "#!/bin/sh\n" + body + "\n", executable));
    return path;
}

} // namespace

TEST(Shell, WhichTakesTheFirstFolderHoldingAnExecutableFile)
{
    struct Row
    {
        const char* name;
        // Per folder: "exe", "plain" (not executable), "dir" (a folder named like the tool) or "" (nothing).
        QStringList folders;
        int expectedFolder; // -1: none of them
    };
    const Row rows[] = {
        {"first of two wins", {"exe", "exe"}, 0},
        {"later folder when the first lacks it", {"", "exe"}, 1},
        {"non-executable file skipped", {"plain", "exe"}, 1},
        {"folder of the same name skipped", {"dir", "", "exe"}, 2},
        {"nothing anywhere", {"plain", "dir"}, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir root;
        QStringList folders;
        for (int i = 0; i < row.folders.size(); ++i) {
            const QString folder = root.filePath(QString::number(i));
            QDir().mkpath(folder);
            folders.append(folder);
            const QString tool = folder + QStringLiteral("/tool");
            if (row.folders[i] == QLatin1String("exe"))
                ASSERT_TRUE(TestSupport::writeFile(tool, "#!/bin/sh\n", executable));
            else if (row.folders[i] == QLatin1String("plain"))
                ASSERT_TRUE(TestSupport::writeFile(tool, "#!/bin/sh\n", plain));
            else if (row.folders[i] == QLatin1String("dir"))
                QDir().mkpath(tool);
        }
        // A fallback that would answer something else proves it is not consulted when a folder matched.
        const QString other = script(root, QStringLiteral("other-tool"), "");
        const QString fallback = script(root, QStringLiteral("fake-which"), "echo " + other.toUtf8());
        const QString found = Shell::which(QStringLiteral("tool"), folders, fallback);
        if (row.expectedFolder < 0)
            EXPECT_EQ(found, other);
        else
            EXPECT_EQ(found, folders[row.expectedFolder] + QStringLiteral("/tool"));
    }
}

// What `which` prints is run as Codex, so only an absolute path to an executable file counts: an empty or
// relative PATH entry made it print a name in the working folder.
TEST(Shell, WhichFallbackCountsOnlyAnAbsolutePathToAnExecutableFile)
{
    QTemporaryDir root;
    const QString codex = script(root, QStringLiteral("bin/codex"), "");
    ASSERT_TRUE(TestSupport::writeFile(root.filePath(QStringLiteral("plain")), "", plain));
    // Relative names do name a real program here, as they would in a hostile working folder.
    const QString savedFolder = QDir::currentPath();
    QDir::setCurrent(root.filePath(QStringLiteral("bin")));
    struct Row
    {
        const char* name;
        QByteArray body;
        QString expected;
    };
    const Row rows[] = {
        {"path, blanks and newlines", "printf '  " + codex.toUtf8() + " \\n\\n'", codex},
        {"relative to the working folder", "printf './codex\\n'", QString()},
        {"bare name", "printf 'codex\\n'", QString()},
        {"not executable", "printf '" + root.filePath(QStringLiteral("plain")).toUtf8() + "\\n'", QString()},
        {"a folder", "printf '" + root.path().toUtf8() + "\\n'", QString()},
        {"prints nothing though it ran", "exit 1", QString()},
        {"only whitespace", "printf ' \\n'", QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString fallback = script(root, QStringLiteral("which-%1").arg(&row - rows), row.body);
        EXPECT_EQ(Shell::which(QStringLiteral("codex"), {root.filePath(QStringLiteral("empty"))}, fallback),
                  row.expected);
    }
    // A relative search folder is skipped the same way.
    EXPECT_EQ(Shell::which(QStringLiteral("codex"), {QStringLiteral("."), QString()}, QString()), QString());
    QDir::setCurrent(savedFolder);
    EXPECT_EQ(Shell::which(QStringLiteral("codex"), {}, QString()), QString());
}

TEST(Shell, DefaultFoldersEndWithUserPlacesAndTheNewestNvmNode)
{
    const QString home = QDir::homePath();
    ASSERT_EQ(home, TestSupport::homePath());
    const QString nvm = home + QStringLiteral("/.nvm/versions/node/");
    for (const char* version : {"v9.11.2", "v18.10.0", "v18.2.0"})
        QDir().mkpath(nvm + QLatin1String(version) + QStringLiteral("/bin"));

    const QStringList folders = Shell::defaultSearchFolders();
    QDir(home + QStringLiteral("/.nvm")).removeRecursively();

    // Numeric order: 18.10 is newer than 18.2 and 9.11, though it sorts before both as text.
    const QStringList expected{
        QStringLiteral("/opt/homebrew/bin"),  QStringLiteral("/usr/local/bin"),
        QStringLiteral("/usr/bin"),           QStringLiteral("/bin"),
        home + QStringLiteral("/.local/bin"), home + QStringLiteral("/.npm-global/bin"),
        nvm + QStringLiteral("v18.10.0/bin")};
    EXPECT_EQ(folders, expected);
    EXPECT_EQ(Shell::defaultSearchFolders().size(), 6) << "without nvm there is no seventh folder";
}

TEST(Shell, RunCapturesOutputsAndStatus)
{
    struct Row
    {
        const char* name;
        QString command;
        int status;
        QString out;
        QString err;
    };
    const Row rows[] = {
        {"both streams", QStringLiteral("printf 'out'; printf 'err' >&2"), 0, QStringLiteral("out"),
         QStringLiteral("err")},
        {"exit status", QStringLiteral("exit 3"), 3, QString(), QString()},
        {"invalid UTF-8 replaced", QStringLiteral("printf 'a\\377b'"), 0, QStringLiteral("a\uFFFDb"),
         QString()},
        // More than a pipe holds: the reader must not stall the child.
        {"a megabyte", QStringLiteral("head -c 1000000 /dev/zero | tr '\\0' a"), 0, QString(1000000, u'a'),
         QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = Shell::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), row.command});
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->status, row.status);
        EXPECT_EQ(result->stdout, row.out);
        EXPECT_EQ(result->stderr, row.err);
    }
}

TEST(Shell, RunTimeoutTerminatesTheChild)
{
    QElapsedTimer elapsed;
    elapsed.start();
    const auto result = Shell::run(QStringLiteral("/bin/sleep"), {QStringLiteral("20")}, 0.3);
    ASSERT_TRUE(result.has_value());
    EXPECT_LT(elapsed.elapsed(), 5000);
    EXPECT_EQ(result->status, -1) << "ended by the terminate signal, not by exiting";
}

TEST(Shell, RunLaunchFailureIsLoggedAndEmpty)
{
    const auto result = Shell::run(QStringLiteral("/nonexistent/tool"), {});
    EXPECT_FALSE(result.has_value());
    const auto lastError = AppLogger::shared().lastError();
    ASSERT_TRUE(lastError.has_value());
    EXPECT_TRUE(lastError->startsWith(QStringLiteral("Shell.run failed: "))) << lastError->toStdString();
}
