#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

namespace {

// Started where there is no desktop (a server, an ssh session), the program explains and points at the
// command line instead of aborting in the windowing layer.
TEST(NoDisplay, TheProgramSaysSoAndSuggestsTheStatusCommand)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    for (const QStringList& arguments : {QStringList{}, QStringList{"--demo"}, QStringList{"--toggle"}}) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(TALLYVANE_PROGRAM), arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        EXPECT_EQ(process.exitCode(), 1) << errors.toStdString();
        EXPECT_TRUE(errors.contains("needs a desktop session: no display")) << errors.toStdString();
        EXPECT_TRUE(errors.contains("tallyvane status --demo")) << errors.toStdString();
    }
}

} // namespace
