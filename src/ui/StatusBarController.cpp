#include "ui/StatusBarController.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "platform/gui/GlobalHotKey.h"
#include "platform/gui/StatusItem.h"
#include "ui/GaugeIcon.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/TrayText.h"

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
    const ForecastStatus status = m_state.globalStatus();
    const QString title = MenuBarTitleBuilder::title(m_state);
    const QString figure = TrayText::figure(m_state.forecasts(), m_state.settings());
    // Redrawing the icon is the costly part; only do it when what it shows changed.
    const QString iconKey = rawValue(status) + QLatin1Char('/') + figure;
    if (iconKey != m_iconKey) {
        m_iconKey = iconKey;
        m_item.setIcon(GaugeIcon::icon(status, figure));
    }
    m_toolTip = TrayText::toolTip(title, status, m_hotKey && m_hotKey->isActive());
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
    showUI(trigger, cursor);
}

void StatusBarController::preparePanel()
{
    if (!m_panel)
        m_panel = m_panelFactory();
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
    preparePanel();
    PanelPlacement::Request request = m_screens();
    request.height = m_panelHeight;
    request.fromHotKey = trigger != Trigger::trayIcon;
    if (trigger == Trigger::trayIcon) {
        request.trayGeometry = m_item.geometry();
        request.cursor = cursor;
    }
    m_panel->present(PanelPlacement::place(request).frame);
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
    return request;
}
