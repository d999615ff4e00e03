#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

// Started where there is no desktop (a server, an ssh session), the program explains and points at the
// command line instead of aborting in the windowing layer.
TEST(NoDisplay, TheProgramSaysSoAndSuggestsTheTerminalView)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    for (const QStringList& arguments : {QStringList{}, QStringList{"--demo"}, QStringList{"--toggle"}}) {
        const auto run = TestSupport::runProgram(QStringLiteral(TALLYVANE_PROGRAM), arguments, environment);
        const QString& errors = run.err;
        EXPECT_EQ(run.exitCode, 1) << errors.toStdString();
        EXPECT_TRUE(errors.contains("needs a desktop session: no display")) << errors.toStdString();
        // The terminal view first: it is the whole meter without a desktop.
        EXPECT_TRUE(errors.contains("try: tallyvane top   (or tallyvane status --demo"))
            << errors.toStdString();
    }
}

} // namespace

namespace {

// `make run` without a display: it says so and shows the demo report instead of failing.
TEST(NoDisplay, MakeRunFallsBackToTheDemoReport)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    const auto run = TestSupport::runProgram(
        QStringLiteral("bash"),
        {QStringLiteral(TALLYVANE_SOURCE_DIR "/scripts/run.sh"), QStringLiteral(TALLYVANE_PROGRAM)},
        environment, 20000);
    const QString& output = run.out;
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(output.startsWith("No display here")) << output.toStdString();
    EXPECT_TRUE(output.contains("status --demo")) << output.toStdString();
    // The report itself: demo data has both providers' five-hour windows.
    EXPECT_TRUE(output.contains("Codex 5h")) << output.toStdString();
    EXPECT_TRUE(output.contains("Claude Code 5h")) << output.toStdString();
}

} // namespace
