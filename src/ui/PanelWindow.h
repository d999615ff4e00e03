#pragma once

#include <QElapsedTimer>
#include <QWidget>

// The frameless panel that opens from the tray icon or the hot key. It hides when it loses focus or on
// Escape, and is kept for reuse rather than rebuilt.
class PanelWindow : public QWidget
{
    Q_OBJECT
public:
    // Takes ownership of the content.
    explicit PanelWindow(QWidget* content, QWidget* parent = nullptr);

    // Places, shows, raises and focuses the panel.
    void present(const QRect& frame);
    // Hides the panel on purpose (toggle, Escape); unlike a focus loss this leaves no grace period.
    void dismiss();
    // Whether the panel is visible or lost the focus just now: a click on the tray icon first takes the focus
    // away, and the panel must then stay hidden rather than reopen.
    [[nodiscard]] bool wasVisibleWithin(int milliseconds) const;

    // How long after losing the focus a toggle still counts as closing.
    static constexpr int toggleGraceMs = 400;

Q_SIGNALS:
    void hidden();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QElapsedTimer m_sinceFocusLoss;
    bool m_dismissing = false;
};
