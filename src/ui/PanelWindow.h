#pragma once

#include <QElapsedTimer>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <optional>

class QFrame;
class QLabel;

// The frameless panel that opens from the tray icon or the hot key. It hides when it loses focus or on
// Escape, and is kept for reuse rather than rebuilt. It moves only when dragged by its handle (the header):
// a click anywhere else leaves it where it is, and open. As a pop-up it stays out of the taskbar and the
// window switcher; on a desktop without a tray it is a normal window instead.
class PanelWindow : public QWidget
{
    Q_OBJECT
public:
    enum class Mode
    {
        popup,
        // A normal window with a frame, the application's icon and a taskbar entry; closing it hides it.
        window
    };

    // Takes ownership of the content; dragHandle, a widget inside it, moves the panel when dragged.
    explicit PanelWindow(QWidget* content, QWidget* dragHandle = nullptr, QWidget* parent = nullptr);

    // Places, shows, raises and focuses the panel.
    void present(const QRect& frame);
    // Hides the panel on purpose (toggle, Escape); unlike a focus loss this leaves no grace period.
    void dismiss();
    // Whether the panel is visible or lost the focus just now: a click on the tray icon first takes the focus
    // away, and the panel must then stay hidden rather than reopen.
    [[nodiscard]] bool wasVisibleWithin(int milliseconds) const;

    [[nodiscard]] QWidget* content() const { return m_content; }
    // The height of the frame around the content (its edges and any notice above it).
    [[nodiscard]] int chromeHeight() const;

    // Switching hides the panel.
    void setMode(Mode mode);
    [[nodiscard]] Mode mode() const { return m_mode; }
    // The line at the top of the window that says why there is no tray icon (only in window mode).
    void setNoTrayNoticeShown(bool shown);
    void setNoTrayNoticeText(const QString& text);
    [[nodiscard]] QString noTrayNoticeText() const;
    [[nodiscard]] bool isNoTrayNoticeShown() const;

    // How long after losing the focus a toggle still counts as closing.
    static constexpr int toggleGraceMs = 400;

Q_SIGNALS:
    void hidden();
    // "Don't show again" on the no-tray notice.
    void noTrayNoticeDismissed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    [[nodiscard]] bool ownsActiveWindow() const;
    void startMove();
    void endMove(bool refocus);

    QWidget* m_content = nullptr;
    QPointer<QWidget> m_dragHandle;
    QFrame* m_frame = nullptr;
    QWidget* m_notice = nullptr;
    QLabel* m_noticeText = nullptr;
    Mode m_mode = Mode::popup;
    bool m_noticeWanted = false;
    std::optional<QPointF> m_pressedAt;
    QElapsedTimer m_sinceFocusLoss;
    bool m_dismissing = false;
    bool m_moving = false;
};
