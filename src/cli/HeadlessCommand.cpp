#include "cli/HeadlessCommand.h"

#include "app/AppState.h"
#include "app/NotificationManager.h"
#include "app/StatusSummary.h"
#include "core/io/AppLogger.h"
#include "core/io/CollectorLock.h"
#include "platform/DBusNotificationSender.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"

#include <QCoreApplication>

#include <cstdio>

namespace HeadlessCommand {

int run()
{
    // One Tallyvane per user, tray or headless: a second one would poll the same providers twice.
    SingleInstance instance;
    if (instance.claim(SingleInstance::Request::show) == SingleInstance::Role::secondary) {
        std::fprintf(stderr, "tallyvane: already running; not starting a second instance\n");
        return 0;
    }

    TerminationSignals terminationSignals;
    if (!terminationSignals.isInstalled()) {
        std::fprintf(stderr, "tallyvane: cannot set up signal handling\n");
        return 1;
    }

    int status = 0;
    {
        // No panel to open here, so notifications offer no click action.
        DBusNotificationSender sender(DBusNotificationSender::Options{.openOnClick = false});
        NotificationManager notifications(sender);
        AppStateEnvironment environment;
        environment.notifications = &notifications;
        environment.collectorLock = std::make_shared<CollectorLock>();
        environment.watchLog = true;
        AppState state(environment);
        StatusSummaryPublisher summary;
        summary.follow(state);
        QString last;
        QObject::connect(&state, &AppState::changed, [&] {
            if (!state.lastRefresh())
                return; // provider health can arrive before the first cycle has anything to say
            const PublishedState published = state.publishedState();
            if (published.statusLine == last)
                return;
            last = published.statusLine;
            // Local time, to the second, as a log reads it.
            const QString stamp = published.now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            std::printf("%s  %s\n", qPrintable(stamp), qPrintable(last));
            std::fflush(stdout);
        });
        state.init();
        AppLogger::shared().info(QStringLiteral("Running headless"));
        status = QCoreApplication::exec();
        state.flushSettings();
    }
    AppLogger::shared().flush();
    return status;
}

} // namespace HeadlessCommand
