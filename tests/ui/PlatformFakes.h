#pragma once

#include "platform/gui/GlobalHotKey.h"
#include "platform/gui/StatusItem.h"

#include <QImage>

// A tray that records what it was given.
class FakeStatusItem : public StatusItem
{
public:
    void setIcon(const QIcon& icon) override
    {
        ++iconChanges;
        lastIcon = icon.pixmap(64).toImage();
    }
    void setToolTip(const QString& text) override { toolTip = text; }
    void setContextMenu(QMenu*) override {}
    std::optional<QRect> geometry() const override { return trayGeometry; }
    bool isShown() const override { return true; }
    bool isSettled() const override { return settled; }

    void click(QPoint cursor = {}) { Q_EMIT activated(cursor); }
    void middleClick() { Q_EMIT middleClicked(); }
    void noTray()
    {
        settled = true;
        Q_EMIT unavailable();
    }
    void trayAppears()
    {
        settled = true;
        Q_EMIT shown();
    }

    int iconChanges = 0;
    QImage lastIcon;
    QString toolTip;
    std::optional<QRect> trayGeometry;
    bool settled = true;
};

class FakeHotKey : public GlobalHotKey
{
public:
    bool isActive() const override { return active; }
    QString mechanism() const override { return QStringLiteral("fake"); }
    void press() { Q_EMIT activated(); }
    void setActive(bool value)
    {
        active = value;
        Q_EMIT activeChanged();
    }
    bool active = true;
};
