#include "ui/TrayApplication.h"

#include "app/AppState.h"
#include "app/NotificationManager.h"
#include "app/ProcessLife.h"
#include "app/StatusSummary.h"
#include "core/io/AppLogger.h"
#include "core/io/CollectorLock.h"
#include "core/io/LocalFileStore.h"
#include "platform/DBusNotificationSender.h"
#include "platform/SingleInstance.h"
#include "platform/TerminationSignals.h"
#include "platform/gui/GlobalHotKey.h"
#include "platform/gui/TrayStatusItem.h"
#include "ui/PanelPlacement.h"
#include "ui/PanelStyle.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/StatusBarController.h"

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <memory>

namespace TrayApplication {
namespace {

// What the panel reads and starts, with the test notification going through the real sender.
PanelFeeds panelFeeds(AppState& state, NotificationSender& sender)
{
    PanelFeeds feeds = PanelFeeds::fromState(state);
    feeds.sendTestNotification = [&sender](std::function<void(const QString&)> done) {
        const QString key = QStringLiteral("notify-test");
        const NotificationRequest sample{
            key, key + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces),
            QStringLiteral("Tallyvane test notification"),
            QStringLiteral("Tallyvane's alerts will look like this."), false};
        sender.post(sample, [done = std::move(done)](const NotificationSender::PostResult& posted) {
            done(posted.serviceId ? QStringLiteral("Test notification sent.")
                                  : QStringLiteral("No notification service took it: ") + posted.error);
        });
    };
    return feeds;
}

int runPreview(AppState& state, const PanelView::Options& options, PanelFeeds feeds)
{
    // A plain window, so that the content can be looked at and captured without a tray.
    auto* view = new PanelView(state, options, std::move(feeds));
    view->setWindowTitle(QStringLiteral("Tallyvane (preview)"));
    view->setAttribute(Qt::WA_DeleteOnClose);
    // 900 px high where the screen has room, else the screen's free height.
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    view->resize(std::min(PanelPlacement::panelWidth, room.width()), std::min(900, room.height()));
    view->show();
    QObject::connect(view, &QObject::destroyed, qApp, &QCoreApplication::quit);
    return QApplication::exec();
}

} // namespace

QString missingDisplayReason()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return {};
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    return {};
}

int run(int& argc, char** argv)
{
    if (const QString reason = missingDisplayReason(); !reason.isEmpty()) {
        QTextStream(stderr)
            << "tallyvane: the tray interface needs a desktop session: " << reason
            << ".\nWithout one, try: tallyvane top   (or tallyvane status --demo, tallyvane --help)\n";
        return 1;
    }
    if (const std::optional<QString> problem = ProcessLife::startProblem()) {
        QTextStream(stderr) << "tallyvane: " << *problem << '\n';
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallyvane"));
    QApplication::setApplicationVersion(QStringLiteral(TALLYVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.tallyvane.Tallyvane"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(new PanelStyle(QApplication::style()->name()));
    const QStringList arguments = QApplication::arguments();
    const bool preview = arguments.contains(QStringLiteral("--preview"));

    std::unique_ptr<SingleInstance> instance;
    if (!preview) {
        instance = std::make_unique<SingleInstance>();
        const auto request = arguments.contains(QStringLiteral("--toggle")) ? SingleInstance::Request::toggle
                                                                            : SingleInstance::Request::show;
        if (instance->claim(request) == SingleInstance::Role::secondary)
            return 0;
    }

    TerminationSignals terminationSignals;
    DBusNotificationSender notificationSender;
    NotificationManager notifications(notificationSender);
    AppStateEnvironment environment;
    // The preview window runs beside a tray instance, which already notifies.
    if (!preview)
        environment.notifications = &notifications;
    environment.collectorLock = std::make_shared<CollectorLock>();
    environment.watchLog = true;
    AppState state(environment);
    StatusSummaryPublisher summary;
    // The preview runs beside a tray instance, which keeps the summary.
    if (!preview)
        summary.follow(state);
    state.init();
    PanelView::Options options;
    options.capture = arguments.contains(QStringLiteral("--capture"));
    options.startOnSettings = arguments.contains(QStringLiteral("--start-settings"));
    if (preview)
        return runPreview(state, options, panelFeeds(state, notificationSender));

    TrayStatusItem item;
    const int height = PanelPlacement::panelHeight(arguments);
    const auto makePanel = [&state, &notificationSender, options] {
        auto* view = new PanelView(state, options, panelFeeds(state, notificationSender));
        return new PanelWindow(view, view->dragHandle());
    };
    StatusBarController controller(state, item, makePanel, height);

    QMenu menu;
    menu.addAction(QStringLiteral("Show Tallyvane"), &controller,
                   [&controller] { controller.showUI(StatusBarController::Trigger::request); });
    menu.addAction(QStringLiteral("Settings…"), &controller, [&controller] { controller.showSettings(); });
    menu.addAction(QStringLiteral("Refresh"), &state, &AppState::refresh);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Quit"), qApp, &QCoreApplication::quit);
    item.setContextMenu(&menu);

    std::unique_ptr<GlobalHotKey> hotKey = createGlobalHotKey();
    controller.setHotKey(hotKey.get());
    if (hotKey && hotKey->isActive())
        AppLogger::shared().info(GlobalHotKey::shortcutText() + QStringLiteral(" toggles the panel (") +
                                 hotKey->mechanism() + QLatin1Char(')'));
    QObject::connect(instance.get(), &SingleInstance::requestReceived, &controller,
                     [&controller](SingleInstance::Request request) {
                         if (request == SingleInstance::Request::toggle)
                             controller.toggleUI(StatusBarController::Trigger::request);
                         else
                             controller.showUI(StatusBarController::Trigger::request);
                     });
    QObject::connect(&notifications, &NotificationManager::activated, &controller,
                     [&controller] { controller.showUI(StatusBarController::Trigger::request); });
    // Built a moment after start-up (off the tray item's registration), so that the first opening costs no
    // more than any other.
    QTimer::singleShot(1000, &controller, &StatusBarController::preparePanel);
    // Started with --toggle or --start-settings while none was running: the user wants to see the panel.
    if (arguments.contains(QStringLiteral("--toggle")) || options.startOnSettings)
        controller.showUI(StatusBarController::Trigger::request);
    else
        controller.showWelcomeOnce();

    const int status = QApplication::exec();
    ProcessLife::finishBeforeExit();
    state.flushSettings();
    AppLogger::shared().flush();
    return status;
}

} // namespace TrayApplication
