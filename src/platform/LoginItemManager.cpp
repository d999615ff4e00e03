#include "platform/LoginItemManager.h"

#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace LoginItemManager {
namespace {

bool fail(const QString& description)
{
    AppLogger::shared().error(QStringLiteral("Login item update failed: ") + description);
    return false;
}

} // namespace

QString entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/tallyvane.desktop");
}

QString quoteExecArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString escaped;
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        if (reserved.contains(c))
            needsQuotes = true;
        // Inside quotes these four are escaped with a backslash.
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            escaped += QLatin1Char('\\');
        // A literal percent sign is doubled, field codes being the only other use of it.
        if (c == QLatin1Char('%'))
            escaped += QLatin1Char('%');
        escaped += c;
    }
    if (needsQuotes)
        escaped = QLatin1Char('"') + escaped + QLatin1Char('"');
    // The value itself is a desktop-entry string, where a backslash is written twice.
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    escaped.replace(QLatin1Char('\t'), QStringLiteral("\\t"));
    return escaped;
}

QString desktopEntry(const QString& executable)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tallyvane\n"
                          "Comment=AI coding range meter\n"
                          "Exec=%1\n"
                          "Icon=tallyvane\n"
                          "Terminal=false\n"
                          "Categories=Utility;\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quoteExecArgument(executable));
}

bool setEnabled(bool enabled)
{
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        return fail(file.errorString());
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder ") + folder);
    QString error;
    if (!AtomicFile::write(path, desktopEntry(QCoreApplication::applicationFilePath()).toUtf8(), &error))
        return fail(error);
    return true;
}

bool isEnabled()
{
    return QFileInfo::exists(entryPath());
}

} // namespace LoginItemManager
