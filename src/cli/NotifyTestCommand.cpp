#include "cli/NotifyTestCommand.h"

#include "platform/DBusNotificationSender.h"

#include <QEventLoop>
#include <QTextStream>
#include <QUuid>

namespace NotifyTestCommand {

int run()
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    // Nothing to open on a click from here.
    DBusNotificationSender sender(DBusNotificationSender::Options{.openOnClick = false});
    QEventLoop loop;
    int status = 1;
    // Every call has a time-out, so the loop always ends.
    sender.checkService([&](const NotificationSender::CheckResult& check) {
        if (!check.server) {
            err << "tallyvane: no notification service answered: " << check.error << '\n';
            loop.quit();
            return;
        }
        out << "Notification service: " << check.server->name << ' ' << check.server->version << '\n';
        out.flush();
        const QString key = QStringLiteral("notify-test");
        const NotificationRequest sample{
            key, key + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces),
            QStringLiteral("Tallyvane test notification"),
            QStringLiteral("Tallyvane's alerts will look like this."), false};
        sender.post(sample, [&](const NotificationSender::PostResult& posted) {
            if (posted.serviceId) {
                out << "Posted a test notification (id " << *posted.serviceId << ").\n";
                status = 0;
            } else {
                err << "tallyvane: the notification service refused the notification: " << posted.error
                    << '\n';
            }
            loop.quit();
        });
    });
    loop.exec();
    return status;
}

} // namespace NotifyTestCommand
