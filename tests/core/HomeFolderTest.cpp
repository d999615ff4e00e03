#include "core/io/HomeFolder.h"

#include <gtest/gtest.h>

#include <QDir>

// Only an absolute value counts, cleaned; an empty or relative one gives the folder under HOME.
TEST(HomeFolder, AnAbsoluteVariableElseTheFolderUnderHome)
{
    const QString underHome = QDir::homePath() + QStringLiteral("/.codex");
    const std::pair<const char*, QString> rows[] = {
        {"", underHome}, {"codex-home", underHome}, {"/srv//codex/", QStringLiteral("/srv/codex")}};
    for (const auto& [value, expected] : rows) {
        qputenv("TALLYVANE_FOLDER_UNDER_TEST", value);
        EXPECT_EQ(HomeFolder::fromEnvironment("TALLYVANE_FOLDER_UNDER_TEST", QStringLiteral(".codex")),
                  expected)
            << value;
    }
    qunsetenv("TALLYVANE_FOLDER_UNDER_TEST");
}
