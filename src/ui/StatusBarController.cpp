#include "ui/StatusBarController.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "core/io/AppLogger.h"
#include "platform/gui/GlobalHotKey.h"
#include "platform/gui/StatusItem.h"
#include "ui/GaugeIcon.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/TrayText.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

StatusBarController::StatusBarController(AppState& state, StatusItem& item, PanelFactory panelFactory,
                                         int panelHeight, QObject* parent)
    : QObject(parent), m_state(state), m_item(item), m_panelFactory(std::move(panelFactory)),
      m_panelHeight(panelHeight)
{
    updateButton();
    connect(&m_item, &StatusItem::activated, this,
            [this](QPoint cursor) { toggleUI(Trigger::trayIcon, cursor); });
    connect(&m_item, &StatusItem::middleClicked, &m_state, &AppState::refresh);
    connect(&m_item, &StatusItem::unavailable, this, [this] {
        setWindowMode(true);
        showPending();
    });
    connect(&m_item, &StatusItem::shown, this, [this] {
        setWindowMode(false);
        showPending();
    });
    // Coalesce a burst of change signals into one redraw on the next turn of the event loop.
    connect(&m_state, &AppState::changed, this, [this] {
        if (m_updateQueued)
            return;
        m_updateQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_updateQueued = false;
                updateButton();
            },
            Qt::QueuedConnection);
    });
    // Countdowns in the title age even when nothing new arrives.
    m_tick.setInterval(30'000);
    m_tick.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_tick, &QTimer::timeout, this, &StatusBarController::updateButton);
    m_tick.start();
}

StatusBarController::~StatusBarController()
{
    delete m_panel;
}

void StatusBarController::setHotKey(GlobalHotKey* key)
{
    if (m_hotKey)
        disconnect(m_hotKey, nullptr, this, nullptr);
    m_hotKey = key;
    if (key) {
        connect(key, &GlobalHotKey::activated, this, [this] { toggleUI(Trigger::hotKey); });
        connect(key, &GlobalHotKey::activeChanged, this, &StatusBarController::updateButton);
    }
    updateButton();
}

void StatusBarController::updateButton()
{
    ++m_updates;
    const PublishedState published = m_state.publishedState();
    const ForecastStatus status = published.globalStatus;
    const QString& title = published.title;
    const QString& figure = published.iconFigure;
    // Redrawing the icon is the costly part; only do it when what it shows changed.
    const QString iconKey = rawValue(status) + QLatin1Char('/') + figure;
    if (iconKey != m_iconKey) {
        m_iconKey = iconKey;
        m_item.setIcon(GaugeIcon::icon(status, figure));
    }
    m_toolTip = TrayText::toolTip(title, status, m_hotKey && m_hotKey->isActive(), published.machineHealth);
    m_item.setToolTip(m_toolTip);
}

bool StatusBarController::isPanelVisible() const
{
    return m_panel && m_panel->isVisible();
}

void StatusBarController::toggleUI(Trigger trigger, std::optional<QPoint> cursor)
{
    // A click on the tray icon takes the focus first and so hides the panel a moment before the click
    // arrives: that click meant "close".
    const bool wasOpen =
        m_panel && (trigger == Trigger::trayIcon ? m_panel->wasVisibleWithin(PanelWindow::toggleGraceMs)
                                                 : m_panel->isVisible());
    if (wasOpen) {
        m_panel->dismiss();
        return;
    }
    // A second toggle while the tray search goes on takes the first one back.
    if (!m_item.isSettled() && m_pendingShow) {
        m_pendingShow.reset();
        return;
    }
    showUI(trigger, cursor);
}

void StatusBarController::preparePanel()
{
    if (m_panel)
        return;
    m_panel = m_panelFactory();
    connect(m_panel, &PanelWindow::noTrayNoticeDismissed, this, [this] {
        AppSettings next = m_state.settings();
        next.showNoTrayNotice = false;
        m_state.setSettings(next);
    });
    if (m_windowMode)
        m_panel->setMode(PanelWindow::Mode::window);
    connect(m_panel, &PanelWindow::hidden, this, [this] {
        if (m_popupOnHide)
            QMetaObject::invokeMethod(this, &StatusBarController::applyMode, Qt::QueuedConnection);
    });
    if (auto* view = qobject_cast<PanelView*>(m_panel->content())) {
        connect(view, &PanelView::fittedHeightChanged, this, [this] {
            if (!m_panel || !m_panel->isVisible())
                return;
            if (m_windowMode)
                m_panel->resize(m_panel->width(), panelHeight());
            else
                present(m_lastRequest);
        });
    }
}

int StatusBarController::panelHeight() const
{
    const auto* view = m_panel ? qobject_cast<const PanelView*>(m_panel->content()) : nullptr;
    if (!view)
        return m_panelHeight;
    // Laid out once shown; before that, the width it will have.
    const int width =
        m_panel->isVisible() ? view->width() : PanelPlacement::panelWidth - m_panel->chromeHeight();
    const std::optional<int> fitted = view->fittedHeight(width);
    if (!fitted)
        return m_panelHeight;
    return std::min(m_panelHeight, *fitted + m_panel->chromeHeight());
}

void StatusBarController::present(PanelPlacement::Request request)
{
    m_lastRequest = request;
    request.height = panelHeight();
    m_panel->present(PanelPlacement::place(request).frame);
    // Laid out for real only now: a short screen may want a little more or less than it said.
    if (const int laidOut = panelHeight(); laidOut != request.height) {
        request.height = laidOut;
        m_panel->setGeometry(PanelPlacement::place(request).frame);
    }
}

void StatusBarController::setWindowMode(bool on)
{
    if (on == m_windowMode)
        return;
    m_windowMode = on;
    applyMode();
    if (!on) {
        AppLogger::shared().info(QStringLiteral("A tray appeared: the panel is a pop-up again"));
        return;
    }
    AppLogger::shared().info(QStringLiteral("No tray shows the icon: the panel opens as a window"));
    m_pendingShow = Trigger::request;
}

void StatusBarController::applyMode()
{
    // Taken from under the pointer, a window in use would just vanish.
    m_popupOnHide =
        m_panel && !m_windowMode && m_panel->mode() == PanelWindow::Mode::window && m_panel->isVisible();
    if (m_panel && !m_popupOnHide)
        m_panel->setMode(m_windowMode ? PanelWindow::Mode::window : PanelWindow::Mode::popup);
}

void StatusBarController::showWelcomeOnce()
{
    AppSettings next = m_state.settings();
    if (next.hasOnboarded || next.welcomeOpened)
        return;
    next.welcomeOpened = true;
    m_state.setSettings(next);
    showUI(Trigger::request);
}

void StatusBarController::showPending()
{
    if (const std::optional<Trigger> trigger = std::exchange(m_pendingShow, std::nullopt))
        showUI(*trigger);
}

void StatusBarController::showSettings()
{
    preparePanel();
    if (auto* view = m_panel->findChild<PanelView*>())
        view->showSettings(true);
    showUI(Trigger::request);
}

void StatusBarController::showUI(Trigger trigger, std::optional<QPoint> cursor)
{
    // A pop-up shown now would be made a window a moment later, or lose its focus to the tray appearing.
    if (!m_item.isSettled()) {
        m_pendingShow = trigger;
        return;
    }
    preparePanel();
    // A window left open when a tray appeared stays where it is until closed.
    if (m_popupOnHide && m_panel->isVisible()) {
        m_panel->present(m_panel->geometry());
        return;
    }
    if (m_windowMode) {
        m_panel->setNoTrayNoticeText(MenuBarTitleBuilder::noTrayNotice(m_hotKey && m_hotKey->isActive()));
        m_panel->setNoTrayNoticeShown(m_state.settings().showNoTrayNotice);
        if (m_windowPlaced) {
            m_panel->present(m_panel->geometry());
            return;
        }
    }
    PanelPlacement::Request request = m_screens();
    request.fromHotKey = trigger != Trigger::trayIcon;
    if (trigger == Trigger::trayIcon) {
        request.trayGeometry = m_item.geometry();
        request.cursor = cursor;
    } else if (!request.canPosition) {
        request.cursor = QCursor::pos();
    }
    // A window opens in the middle of the screen, as a window would.
    if (m_windowMode) {
        request.canPosition = false;
        m_windowPlaced = true;
    }
    present(request);
    QMetaObject::invokeMethod(this, &StatusBarController::updateButton, Qt::QueuedConnection);
}

PanelPlacement::Request StatusBarController::desktopScreens()
{
    PanelPlacement::Request request;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (qsizetype i = 0; i < screens.size(); ++i) {
        request.screens.append({screens[i]->geometry(), screens[i]->availableGeometry()});
        if (screens[i] == QGuiApplication::primaryScreen())
            request.primaryScreen = int(i);
    }
    request.canPosition = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    return request;
}
