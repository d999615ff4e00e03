#pragma once

#include <QObject>
#include <QString>

#include <memory>

// A system-wide key combination that toggles the panel (Ctrl+Alt+G).
class GlobalHotKey : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~GlobalHotKey() override = default;

    // Whether presses will arrive; a grab refused by the display server leaves this false.
    [[nodiscard]] virtual bool isActive() const = 0;
    // Which mechanism serves the key, for the log ("X11 key grab", "desktop portal").
    [[nodiscard]] virtual QString mechanism() const = 0;

    static QString shortcutText() { return QStringLiteral("Ctrl+Alt+G"); }

Q_SIGNALS:
    void activated();
    // isActive() changed, e.g. once the portal has bound the shortcut.
    void activeChanged();
};

// The X11 key grab when the display is X11, else the desktop portal's global shortcuts when it answers
// (asynchronously: the returned key may become active later), else nothing.
std::unique_ptr<GlobalHotKey> createGlobalHotKey(QObject* parent = nullptr);
