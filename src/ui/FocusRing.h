#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// A ring in the highlight colour around whichever control inside `scope` has the keyboard focus, drawn the
// same for every kind of control and in any palette (styles draw none around flat and auto-raised buttons).
// Shown only once the focus moved by keyboard, as desktop toolkits do.
class FocusRing : public QObject
{
    Q_OBJECT
public:
    explicit FocusRing(QWidget* scope);

    // The control the ring surrounds now; null while none shows.
    [[nodiscard]] QWidget* target() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* focus);
    void place();

    QWidget* m_scope;
    QPointer<QWidget> m_target;
    // A sibling of the control, so that it scrolls and clips with it; gone with its parent, then made anew.
    QPointer<QWidget> m_ring;
};
