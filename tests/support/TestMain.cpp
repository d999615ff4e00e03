#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#ifdef TALLYVANE_TEST_GUI
#include <QApplication>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {
std::unique_ptr<QTemporaryDir> testHome;
}

QString TestSupport::homePath()
{
    return testHome->path();
}

int main(int argc, char** argv)
{
    // No test may touch the real home: point HOME and every XDG folder into a fresh temporary one first.
    testHome = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tallyvane-test-XXXXXX"));
    const QByteArray home = testHome->path().toUtf8();
    ::setenv("HOME", home.constData(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/.cache").constData(), 1);
    ::setenv("XDG_STATE_HOME", (home + "/.local/state").constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home + "/.runtime").constData(), 1);
    // The assistants' own folders, our endpoint overrides and the terminal's colour switch would lead a test
    // to real transcripts, a real credential, a real host or other output.
    for (const char* variable :
         {"CLAUDE_CONFIG_DIR", "CODEX_HOME", "TALLYVANE_CLAUDE_API_URL", "TALLYVANE_CLAUDE_TOKEN_URLS",
          "TALLYVANE_CLAUDE_USER_AGENT", "TALLYVANE_CLAUDE_CLIENT_ID", "TALLYVANE_SSH", "NO_COLOR"})
        ::unsetenv(variable);
    ::setenv("TERM", "xterm-256color", 1);
    // Only the session runner gives a test a display (run-session.sh); every other test draws offscreen,
    // including test discovery, which runs the binary without the suite's environment.
    if (!qEnvironmentVariableIsSet("TALLYVANE_TEST_SESSION")) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QDir().mkpath(testHome->path() + QStringLiteral("/.runtime"));
    QFile::setPermissions(testHome->path() + QStringLiteral("/.runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // What a test and the programs it starts inherit, for the check that nothing of the caller's gets
    // through.
    if (argc == 2 && std::strcmp(argv[1], "--print-environment") == 0) {
        for (char** variable = environ; *variable != nullptr; ++variable)
            std::printf("%s\n", *variable);
        return 0;
    }

#ifdef TALLYVANE_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    testHome.reset();
    return rc;
}
