#include "cli/HeadlessCommand.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "core/AppLogger.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace HeadlessCommand {

namespace {

int signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

QString statusLine(const AppState& state)
{
    AppSettings settings = state.settings();
    if (settings.menuBarDisplayMode == MenuBarDisplayMode::iconOnly)
        settings.menuBarDisplayMode = MenuBarDisplayMode::compact;
    return MenuBarTitleBuilder::statusWord(state.globalStatus()) + QStringLiteral(" | ") +
           MenuBarTitleBuilder::title(state.forecasts(), settings);
}

} // namespace

int run()
{
    // One Tallyvane per user, tray or headless: a second one would poll the same providers twice.
    SingleInstance instance;
    if (instance.claim(SingleInstance::Request::show) == SingleInstance::Role::secondary) {
        std::fprintf(stderr, "tallyvane: already running; not starting a second instance\n");
        return 0;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        std::fprintf(stderr, "tallyvane: cannot set up signal handling\n");
        return 1;
    }
    QSocketNotifier notifier(signalPipe[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int status = 0;
    {
        AppState state;
        QString last;
        QObject::connect(&state, &AppState::changed, [&] {
            if (!state.lastRefresh())
                return; // provider health can arrive before the first cycle has anything to say
            const QString line = statusLine(state);
            if (line == last)
                return;
            last = line;
            std::printf("%s\n", qPrintable(line));
            std::fflush(stdout);
        });
        state.init();
        AppLogger::shared().info(QStringLiteral("Running headless"));
        status = QCoreApplication::exec();
        state.flushSettings();
    }
    AppLogger::shared().flush();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    return status;
}

} // namespace HeadlessCommand
