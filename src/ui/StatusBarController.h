#pragma once

#include "ui/PanelPlacement.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

class AppState;
class GlobalHotKey;
class PanelWindow;
class StatusItem;

// Keeps the tray icon and tooltip in step with the application state and opens and closes the panel.
class StatusBarController : public QObject
{
    Q_OBJECT
public:
    enum class Trigger
    {
        trayIcon,
        hotKey,
        request
    };

    // Makes the panel on first use.
    using PanelFactory = std::function<PanelWindow*()>;
    // The screens as the panel placement sees them; the desktop's screens unless a test says otherwise.
    using ScreenSource = std::function<PanelPlacement::Request()>;

    StatusBarController(AppState& state, StatusItem& item, PanelFactory panelFactory, int panelHeight,
                        QObject* parent = nullptr);
    ~StatusBarController() override;

    // The hot key toggles the panel, and the tooltip names it while it is active; may be set once the key
    // becomes available.
    void setHotKey(GlobalHotKey* key);
    void setScreenSource(ScreenSource source) { m_screens = std::move(source); }

    void updateButton();
    void toggleUI(Trigger trigger, std::optional<QPoint> cursor = std::nullopt);
    void showUI(Trigger trigger, std::optional<QPoint> cursor = std::nullopt);
    // Opens the panel on its settings screen.
    void showSettings();
    // Builds the panel ahead of its first opening, so that opening only shows it.
    void preparePanel();
    // At a first start: opens the panel on the welcome, once; later starts show only the icon.
    void showWelcomeOnce();

    // The panel once made; null before.
    [[nodiscard]] PanelWindow* panel() const { return m_panel; }
    [[nodiscard]] bool isPanelVisible() const;
    [[nodiscard]] QString toolTip() const { return m_toolTip; }
    [[nodiscard]] int buttonUpdates() const { return m_updates; }

    void setTickInterval(int milliseconds) { m_tick.start(milliseconds); }

private:
    static PanelPlacement::Request desktopScreens();
    // The panel height for what it shows now: its content's when that is short, never more than asked.
    int panelHeight() const;
    // Opens the panel where the request says, at the height its content wants.
    void present(PanelPlacement::Request request);
    // No tray shows the icon: the panel becomes a window and opens; a tray that appears later takes over.
    void setWindowMode(bool on);
    // Opens the panel when a request to open is waiting for the tray search.
    void showPending();
    // The form the mode asks for; an open window stays one until it is closed.
    void applyMode();

    AppState& m_state;
    StatusItem& m_item;
    PanelFactory m_panelFactory;
    int m_panelHeight;
    QPointer<PanelWindow> m_panel;
    // How the panel was last placed, to place it again when its content's height changes while open.
    PanelPlacement::Request m_lastRequest;
    QPointer<GlobalHotKey> m_hotKey;
    ScreenSource m_screens = &StatusBarController::desktopScreens;
    QTimer m_tick;
    QString m_toolTip;
    QString m_iconKey;
    int m_updates = 0;
    bool m_updateQueued = false;
    bool m_windowMode = false;
    // A tray appeared while the window was open: the panel becomes a pop-up once the window closes.
    bool m_popupOnHide = false;
    // A request to open that came while the tray search went on, answered once it ends.
    std::optional<Trigger> m_pendingShow;
    // Whether the window has been placed once; later openings leave it where the user put it.
    bool m_windowPlaced = false;
};
