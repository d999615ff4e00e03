#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>

#include <optional>

class QMenu;

// The application's presence in the panel or system tray.
class StatusItem : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~StatusItem() override = default;

    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& text) = 0;
    virtual void setContextMenu(QMenu* menu) = 0;
    // The icon's place on screen when the tray tells it (never with StatusNotifierItem hosts).
    [[nodiscard]] virtual std::optional<QRect> geometry() const = 0;
    // Whether the icon has been handed to a tray yet.
    [[nodiscard]] virtual bool isShown() const = 0;
    // Whether the search for a tray host has ended, in shown() or unavailable(); until then the panel's
    // form (pop-up or window) is not known.
    [[nodiscard]] virtual bool isSettled() const { return true; }

Q_SIGNALS:
    // A primary click; cursor is where the pointer was at that moment.
    void activated(QPoint cursor);
    // A middle click (StatusNotifierItem hosts send it as a secondary activation).
    void middleClicked();
    // The icon now exists in a tray.
    void shown();
    // No tray host appeared in time: nothing shows the icon until one does (then shown() follows).
    void unavailable();
};
