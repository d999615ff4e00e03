#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/text/JsonText.h"
#include "providers/claude/ClaudePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using State = ClaudeBridgeStatus::State;
using Outcome = ClaudeStatusLineBridgeInstaller::Outcome;

// Claude Code's settings are small; anything near this is not a settings file.
constexpr qint64 maxSettingsBytes = 16 * 1024 * 1024;

constexpr QStringView statusLineKey{u"statusLine"};

// The settings path as the user would type it: under the home folder with a "~".
QString shownSettingsPath()
{
    const QString path = ClaudePaths::settingsPath();
    const QString home = QDir::homePath();
    if (home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.sliced(home.size());
    return path;
}

QString writeFailedMessage()
{
    return QStringLiteral("Failed to write %1.").arg(shownSettingsPath());
}

struct Settings
{
    enum class Kind
    {
        missing,
        object,
        unreadable
    } kind = Kind::missing;
    QJsonObject object;
    // The file as it is, for the backup; `text` is what edits start from.
    QByteArray bytes;
    QByteArray text;
};

Settings readSettings()
{
    bool missing = false;
    const std::optional<QByteArray> bytes =
        FileIo::readRegularFile(ClaudePaths::settingsPath(), maxSettingsBytes, &missing);
    if (!bytes)
        return {missing ? Settings::Kind::missing : Settings::Kind::unreadable, {}, {}, "{}\n"};
    // An empty file is how some editors leave "no settings"; Claude Code reads it as {} too.
    if (bytes->trimmed().isEmpty())
        return {Settings::Kind::object, {}, *bytes, "{}\n"};
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    if (!document.isObject())
        return {Settings::Kind::unreadable, {}, *bytes, {}};
    return {Settings::Kind::object, document.object(), *bytes, *bytes};
}

// A file's content before an action touches it, so a failed action can put it back.
struct Saved
{
    QString path;
    std::optional<QByteArray> bytes;

    static Saved of(const QString& path) { return {path, FileIo::readRegularFile(path, maxSettingsBytes)}; }
    void restore() const
    {
        if (bytes)
            AtomicFile::write(path, *bytes);
        else
            QFile::remove(path);
    }
};

QString backupPath()
{
    return ClaudePaths::settingsPath() + QStringLiteral(".tallyvane-backup");
}

QString previousCommandPath()
{
    return LocalFileStore::path(QStringLiteral("claude-prev-statusline.json"));
}

// The user's own status line from before the install: its command, which the bridge runs, and the member's
// text as it was written, which an uninstall puts back.
struct Previous
{
    std::optional<QString> command;
    std::optional<QByteArray> statusLine;
};

Previous readPrevious()
{
    const std::optional<QByteArray> bytes = FileIo::readRegularFile(previousCommandPath(), maxSettingsBytes);
    if (!bytes)
        return {};
    const QJsonObject object = QJsonDocument::fromJson(*bytes).object();
    Previous previous;
    const QJsonValue command = object.value(QLatin1StringView("command"));
    if (command.isString() && !command.toString().isEmpty())
        previous.command = command.toString();
    const QByteArray text = object.value(statusLineKey).toString().toUtf8();
    // Written by us, but read back only if it is still exactly one JSON value.
    if (QJsonDocument::fromJson("[" + text + "]").array().size() == 1)
        previous.statusLine = text;
    return previous;
}

std::optional<QString> readPreviousCommand()
{
    return readPrevious().command;
}

bool writePrevious(const std::optional<QString>& command, const QByteArray& statusLine)
{
    QJsonObject object{{statusLineKey.toString(), QString::fromUtf8(statusLine)}};
    if (command)
        object.insert(QStringLiteral("command"), *command);
    return AtomicFile::write(previousCommandPath(), QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<JsonText::Member> statusLineMember(const QByteArray& text)
{
    return JsonText::member(text, JsonText::topBegin(text), statusLineKey);
}

// The settings text with the bridge as the status-line command; the status line's other members stay.
QByteArray withBridge(QByteArray text, const QString& command)
{
    std::optional<JsonText::Member> line = statusLineMember(text);
    if (!line || text[line->valueBegin] != '{') {
        text = JsonText::set(text, JsonText::topBegin(text), statusLineKey, "{}");
        line = statusLineMember(text);
    }
    const std::optional<JsonText::Member> type = JsonText::member(text, line->valueBegin, u"type");
    if (!type || text.sliced(type->valueBegin, type->valueEnd - type->valueBegin) != "\"command\"")
        text = JsonText::set(text, line->valueBegin, u"type", "\"command\"");
    return JsonText::set(text, line->valueBegin, u"command", JsonText::quoted(command));
}

// The folder the settings file is finally replaced in must take a new file.
bool settingsWritable()
{
    const QString target = AtomicFile::resolveLinks(ClaudePaths::settingsPath());
    const QString folder = QFileInfo(target).absolutePath();
    QDir().mkpath(folder);
    const QByteArray name = QFile::encodeName(folder);
    return ::access(name.constData(), W_OK | X_OK) == 0;
}

bool writeSettings(const QByteArray& text)
{
    QString error;
    AtomicFile::Options options;
    options.followForeignLinks = true;
    if (AtomicFile::write(ClaudePaths::settingsPath(), text, &error, options))
        return true;
    AppLogger::shared().error(QStringLiteral("Claude settings write failed: ") + error);
    return false;
}

// The backup beside the settings file, in the settings file's own mode.
void backUp(const Settings& settings)
{
    AtomicFile::Options options;
    struct stat info = {};
    if (::stat(QFile::encodeName(ClaudePaths::settingsPath()).constData(), &info) == 0)
        options.mode = info.st_mode & 0777;
    AtomicFile::write(backupPath(), settings.bytes, nullptr, options);
}

std::optional<QString> statusLineCommand(const QJsonObject& settings)
{
    const QJsonValue statusLine = settings.value(statusLineKey);
    if (!statusLine.isObject())
        return std::nullopt;
    const QJsonValue command = statusLine.toObject().value(QLatin1StringView("command"));
    if (!command.isString())
        return std::nullopt;
    return command.toString();
}

Outcome failure(const QString& reason, const QString& message, std::optional<QString> previous = std::nullopt)
{
    return {{State::error, std::move(previous), reason}, message};
}

Outcome unreadable()
{
    return failure(QStringLiteral("settings unreadable"),
                   QStringLiteral("Could not read %1; nothing was changed.").arg(shownSettingsPath()));
}

// Claude Code runs the command in each project it opens: a relative path would find that project's script.
QString commandPath(const QString& script)
{
    return QDir::cleanPath(QFileInfo(script).absoluteFilePath());
}

std::optional<QString> deployBridgeScript()
{
    QFile resource(ClaudeStatusLineBridgeInstaller::resourcePath);
    if (!resource.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray script = resource.readAll();
    const QString destination = ClaudeStatusLineBridgeInstaller::deployedScriptPath();
    QString error;
    if (script.isEmpty() || !AtomicFile::write(destination, script, &error, {0600})) {
        AppLogger::shared().error(QStringLiteral("Bridge deploy failed: ") + error);
        return std::nullopt;
    }
    return destination;
}

} // namespace

QString rawValue(ClaudeBridgeStatus::State state)
{
    switch (state) {
    case State::notInstalled:
        return QStringLiteral("notInstalled");
    case State::installed:
        return QStringLiteral("installed");
    case State::wrapping:
        return QStringLiteral("wrapping");
    case State::foreign:
        return QStringLiteral("foreign");
    case State::error:
        return QStringLiteral("error");
    }
    return {};
}

namespace ClaudeStatusLineBridgeInstaller {

QString deployedScriptPath()
{
    return LocalFileStore::path(QStringLiteral("tallyvane-claude-statusline-bridge.py"));
}

QString commandFor(const QString& scriptPath)
{
    // Inside double quotes sh still expands $, ` and \; only single quotes take every character as it is.
    static const QString special = QStringLiteral("\"$`\\\n");
    const bool plain =
        std::none_of(scriptPath.cbegin(), scriptPath.cend(), [](QChar c) { return special.contains(c); });
    if (plain)
        return QStringLiteral("python3 \"%1\"").arg(scriptPath);
    QString quoted = scriptPath;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QStringLiteral("python3 '%1'").arg(quoted);
}

ClaudeBridgeStatus currentStatus()
{
    const Settings settings = readSettings();
    if (settings.kind != Settings::Kind::object)
        return {};
    const std::optional<QString> command = statusLineCommand(settings.object);
    if (!command)
        return {};
    if (!command->contains(marker))
        return {State::foreign, command, {}};
    if (std::optional<QString> previous = readPreviousCommand())
        return {State::wrapping, std::move(previous), {}};
    return {State::installed, std::nullopt, {}};
}

Outcome install()
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        return failure(
            QStringLiteral("python3 missing"),
            QStringLiteral("Could not find python3, which the bridge needs; install python3 and try "
                           "again."));
    const Settings settings = readSettings();
    if (settings.kind == Settings::Kind::unreadable)
        return unreadable();

    LocalFileStore::makeFolder(LocalFileStore::baseDirectory());
    const std::optional<QString> script = deployBridgeScript();
    if (!script)
        return failure(QStringLiteral("Bundle script missing"),
                       QStringLiteral("Could not locate the bundled bridge script."));
    if (!settingsWritable())
        return failure(QStringLiteral("write failed"), writeFailedMessage());

    const Saved oldBackup = Saved::of(backupPath());
    const Saved oldPrevious = Saved::of(previousCommandPath());
    if (settings.kind == Settings::Kind::object)
        backUp(settings);

    const std::optional<QString> current = statusLineCommand(settings.object);
    if (const std::optional<JsonText::Member> line = statusLineMember(settings.text)) {
        // Over the bridge itself the record of the user's own line stays.
        if (!current || !current->contains(marker))
            writePrevious(current, settings.text.sliced(line->valueBegin, line->valueEnd - line->valueBegin));
    } else {
        // Without a status line, a recorded command is one the user has since removed: not to be wrapped.
        QFile::remove(previousCommandPath());
    }
    const std::optional<QString> previous = readPreviousCommand();

    if (!writeSettings(withBridge(settings.text, commandFor(commandPath(*script))))) {
        oldBackup.restore();
        oldPrevious.restore();
        return failure(QStringLiteral("write failed"), writeFailedMessage(), previous);
    }
    if (previous)
        return {{State::wrapping, previous, {}},
                QStringLiteral("Installed Tallyvane bridge wrapping your existing status line.")};
    return {{State::installed, std::nullopt, {}},
            QStringLiteral("Installed Tallyvane bridge as the Claude status line.")};
}

Outcome uninstall()
{
    const Settings settings = readSettings();
    if (settings.kind == Settings::Kind::unreadable)
        return unreadable();
    if (settings.kind == Settings::Kind::missing)
        return {{}, QStringLiteral("No Claude settings found; nothing to uninstall.")};
    // Someone else's status line is theirs: uninstalling the bridge must not take it away.
    const std::optional<QString> current = statusLineCommand(settings.object);
    const std::optional<JsonText::Member> line = statusLineMember(settings.text);
    if (line && (!current || !current->contains(marker)))
        return {{State::foreign, current, {}},
                QStringLiteral("The Claude status line is not Tallyvane's bridge; nothing was changed.")};
    if (!settingsWritable())
        return failure(QStringLiteral("write failed"), writeFailedMessage());

    const Saved oldBackup = Saved::of(backupPath());
    const Saved oldPrevious = Saved::of(previousCommandPath());
    // Without the bridge in place, a recorded command is one the user has since removed: not to be restored.
    if (!line) {
        QFile::remove(previousCommandPath());
        return {{}, QStringLiteral("Removed the Tallyvane status line.")};
    }
    backUp(settings);
    const Previous previous = readPrevious();
    const qsizetype top = JsonText::topBegin(settings.text);
    QByteArray updated;
    if (previous.statusLine)
        updated = JsonText::set(settings.text, top, statusLineKey, *previous.statusLine);
    else if (previous.command)
        updated =
            JsonText::set(settings.text, line->valueBegin, u"command", JsonText::quoted(*previous.command));
    else
        updated = JsonText::remove(settings.text, top, statusLineKey);
    if (!writeSettings(updated)) {
        oldBackup.restore();
        oldPrevious.restore();
        return failure(QStringLiteral("write failed"), writeFailedMessage());
    }
    if (previous.statusLine || previous.command) {
        QFile::remove(previousCommandPath());
        return {{}, QStringLiteral("Removed bridge and restored your previous status line.")};
    }
    return {{}, QStringLiteral("Removed the Tallyvane status line.")};
}

} // namespace ClaudeStatusLineBridgeInstaller
