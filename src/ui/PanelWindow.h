#pragma once

#include <QElapsedTimer>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <optional>

// The frameless panel that opens from the tray icon or the hot key. It hides when it loses focus or on
// Escape, and is kept for reuse rather than rebuilt. It moves only when dragged by its handle (the header):
// a click anywhere else leaves it where it is, and open.
class PanelWindow : public QWidget
{
    Q_OBJECT
public:
    // Takes ownership of the content; dragHandle, a widget inside it, moves the panel when dragged.
    explicit PanelWindow(QWidget* content, QWidget* dragHandle = nullptr, QWidget* parent = nullptr);

    // Places, shows, raises and focuses the panel.
    void present(const QRect& frame);
    // Hides the panel on purpose (toggle, Escape); unlike a focus loss this leaves no grace period.
    void dismiss();
    // Whether the panel is visible or lost the focus just now: a click on the tray icon first takes the focus
    // away, and the panel must then stay hidden rather than reopen.
    [[nodiscard]] bool wasVisibleWithin(int milliseconds) const;
    // Whether the window manager is moving the panel (it may take the focus meanwhile).
    [[nodiscard]] bool isMoving() const { return m_moving; }

    // How long after losing the focus a toggle still counts as closing.
    static constexpr int toggleGraceMs = 400;

Q_SIGNALS:
    void hidden();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    [[nodiscard]] bool ownsActiveWindow() const;
    void startMove();
    void endMove(bool refocus);

    QPointer<QWidget> m_dragHandle;
    std::optional<QPointF> m_pressedAt;
    QElapsedTimer m_sinceFocusLoss;
    bool m_dismissing = false;
    bool m_moving = false;
};
