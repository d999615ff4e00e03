#include "platform/LoginItemManager.h"
#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

// desktop-file-validate's verdict: empty when the file is valid (hints are not errors).
QString validate(const QString& path)
{
    const auto run = TestSupport::runProgram(QStringLiteral("desktop-file-validate"), {path}, {}, 10000);
    const QString output = run.out + run.err;
    return run.exitCode != 0 || output.contains(QLatin1StringView("error:"))
               ? (output.isEmpty() ? QStringLiteral("desktop-file-validate did not run") : output)
               : QString();
}

TEST(LoginItemManager, ExecArgumentsAreQuotedAndEscaped)
{
    const std::pair<QString, QString> rows[] = {
        {"/usr/bin/tallyvane", "/usr/bin/tallyvane"},
        {"/opt/My Apps/tallyvane", "\"/opt/My Apps/tallyvane\""},
        {"/home/a\"b/tallyvane", "\"/home/a\\\\\"b/tallyvane\""},
        {"/home/$USER/bin/tv", "\"/home/\\\\$USER/bin/tv\""},
        {"/srv/100%/tv", "/srv/100%%/tv"},
        {"/x/back\\slash", "\"/x/back\\\\\\\\slash\""},
        {"/x/`cmd`", "\"/x/\\\\`cmd\\\\`\""},
        {"", "\"\""},
    };
    for (const auto& [argument, quoted] : rows)
        EXPECT_EQ(LoginItemManager::quoteExecArgument(argument), quoted) << argument.toStdString();
}

TEST(LoginItemManager, WrittenEntriesPassDesktopFileValidate)
{
    if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
        GTEST_FAIL() << "desktop-file-validate is missing (scripts/deps.sh installs desktop-file-utils)";
    const QString folder = TestSupport::homePath() + "/validate";
    QDir().mkpath(folder);
    const QString executables[] = {"/usr/bin/tallyvane", "/opt/My Apps/tallyvane", "/home/a\"b/$HOME/100%/t",
                                   "/x/back\\slash/`tv`"};
    int index = 0;
    for (const QString& executable : executables) {
        const QString path = folder + QStringLiteral("/entry%1.desktop").arg(index++);
        ASSERT_TRUE(TestSupport::writeFile(path, LoginItemManager::desktopEntry(executable).toUtf8()));
        EXPECT_EQ(validate(path), QString()) << executable.toStdString();
    }
}

TEST(LoginItemManager, EnablingWritesAValidEntryAndDisablingRemovesIt)
{
    const QString path = LoginItemManager::entryPath();
    EXPECT_EQ(path, TestSupport::homePath() + "/.config/autostart/tallyvane.desktop");
    ASSERT_TRUE(LoginItemManager::setEnabled(true));
    EXPECT_TRUE(LoginItemManager::isEnabled());
    EXPECT_EQ(validate(path), QString());
    EXPECT_TRUE(TestSupport::readFile(path).contains(
        "\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));

    // Enabling twice rewrites the same entry.
    ASSERT_TRUE(LoginItemManager::setEnabled(true));
    ASSERT_TRUE(LoginItemManager::setEnabled(false));
    EXPECT_FALSE(QFile::exists(path));
    // Disabling what is not there is no failure.
    EXPECT_TRUE(LoginItemManager::setEnabled(false));
}

TEST(LoginItemManager, FailureIsLoggedAsAnError)
{
    const QString autostart = TestSupport::homePath() + "/.config/autostart";
    QDir(autostart).removeRecursively();
    QDir().mkpath(TestSupport::homePath() + "/.config");
    // A file where the folder should be: the folder cannot be made.
    ASSERT_TRUE(TestSupport::writeFile(autostart, {}));

    EXPECT_FALSE(LoginItemManager::setEnabled(true));
    AppLogger::shared().flush();
    ASSERT_TRUE(AppLogger::shared().lastError().has_value());
    EXPECT_TRUE(AppLogger::shared().lastError()->startsWith("Login item update failed: "))
        << AppLogger::shared().lastError()->toStdString();
    EXPECT_TRUE(
        TestSupport::readFile(LocalFileStore::logPath()).contains("ERROR Login item update failed: "));
    QFile::remove(autostart);
}

} // namespace
