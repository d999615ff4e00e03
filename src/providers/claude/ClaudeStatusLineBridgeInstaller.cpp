#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include "core/io/AccountList.h"
#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/text/JsonText.h"
#include "providers/AccountFolders.h"
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

// One Claude account folder the bridge goes into: Claude Code started with CLAUDE_CONFIG_DIR set to it reads
// its own settings.json.
struct Target
{
    QString folder;
    bool isDefault = false;

    QString settingsPath() const { return folder + QStringLiteral("/settings.json"); }
};

// The default folder first, then every other switched-on account folder.
QList<Target> targets()
{
    QList<Target> all{{ClaudePaths::configDirectory(), true}};
    for (const AccountFolders::Account& account :
         AccountFolders::accounts(Provider::claude, AccountList::load()))
        if (!account.folder.isDefault && account.folder.folder != all.first().folder)
            all.append({account.folder.folder, false});
    return all;
}

// A path as the user would type it: under the home folder with a "~".
QString shown(const QString& path)
{
    const QString home = QDir::homePath();
    if (home != QLatin1String("/") && path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.sliced(home.size());
    return path;
}

QString writeFailedMessage(const Target& target)
{
    return QStringLiteral("Failed to write %1.").arg(shown(target.settingsPath()));
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

Settings readSettings(const Target& target)
{
    bool missing = false;
    const std::optional<QByteArray> bytes =
        FileIo::readRegularFile(target.settingsPath(), maxSettingsBytes, &missing);
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

QString backupPath(const Target& target)
{
    return target.settingsPath() + QStringLiteral(".tallyvane-backup");
}

// The default folder's record has a file of its own; every other folder's is an entry, under the folder's
// path, of one file the bridge looks its session's folder up in.
QString recordPath(const Target& target)
{
    return LocalFileStore::path(target.isDefault ? QStringLiteral("claude-prev-statusline.json")
                                                 : QStringLiteral("claude-prev-statusline-folders.json"));
}

QJsonObject readJsonObject(const QString& path)
{
    const std::optional<QByteArray> bytes = FileIo::readRegularFile(path, maxSettingsBytes);
    return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
}

std::optional<QJsonObject> readRecord(const Target& target)
{
    if (target.isDefault) {
        if (!FileIo::readRegularFile(recordPath(target), maxSettingsBytes))
            return std::nullopt;
        return readJsonObject(recordPath(target));
    }
    const QJsonValue entry = readJsonObject(recordPath(target)).value(target.folder);
    return entry.isObject() ? std::optional(entry.toObject()) : std::nullopt;
}

bool writeRecord(const Target& target, const QJsonObject& record)
{
    QJsonObject file = record;
    if (!target.isDefault) {
        file = readJsonObject(recordPath(target));
        file.insert(target.folder, record);
    }
    return AtomicFile::write(recordPath(target), QJsonDocument(file).toJson(QJsonDocument::Compact));
}

void removeRecord(const Target& target)
{
    QJsonObject file;
    if (!target.isDefault) {
        file = readJsonObject(recordPath(target));
        file.remove(target.folder);
    }
    if (file.isEmpty())
        QFile::remove(recordPath(target));
    else
        AtomicFile::write(recordPath(target), QJsonDocument(file).toJson(QJsonDocument::Compact));
}

// The user's own status line from before the install: its command, which the bridge runs, and the member's
// text as it was written, which an uninstall puts back.
struct Previous
{
    std::optional<QString> command;
    std::optional<QByteArray> statusLine;
};

Previous readPrevious(const Target& target)
{
    const std::optional<QJsonObject> record = readRecord(target);
    if (!record)
        return {};
    const QJsonObject& object = *record;
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

std::optional<QString> readPreviousCommand(const Target& target)
{
    return readPrevious(target).command;
}

bool writePrevious(const Target& target, const std::optional<QString>& command, const QByteArray& statusLine)
{
    QJsonObject object{{statusLineKey.toString(), QString::fromUtf8(statusLine)}};
    if (command)
        object.insert(QStringLiteral("command"), *command);
    return writeRecord(target, object);
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
bool settingsWritable(const Target& target)
{
    const QString resolved = AtomicFile::resolveLinks(target.settingsPath());
    const QString folder = QFileInfo(resolved).absolutePath();
    QDir().mkpath(folder);
    const QByteArray name = QFile::encodeName(folder);
    return ::access(name.constData(), W_OK | X_OK) == 0;
}

bool writeSettings(const Target& target, const QByteArray& text)
{
    QString error;
    AtomicFile::Options options;
    options.followForeignLinks = true;
    if (AtomicFile::write(target.settingsPath(), text, &error, options))
        return true;
    AppLogger::shared().error(QStringLiteral("Claude settings write failed: ") + error);
    return false;
}

// The backup beside the settings file, in the settings file's own mode.
void backUp(const Target& target, const Settings& settings)
{
    AtomicFile::Options options;
    struct stat info = {};
    if (::stat(QFile::encodeName(target.settingsPath()).constData(), &info) == 0)
        options.mode = info.st_mode & 0777;
    AtomicFile::write(backupPath(target), settings.bytes, nullptr, options);
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
    return {{State::error, std::move(previous), reason}, message, true};
}

Outcome unreadable(const Target& target)
{
    return failure(
        QStringLiteral("settings unreadable"),
        QStringLiteral("Could not read %1; nothing was changed.").arg(shown(target.settingsPath())));
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

namespace {

// Each folder's outcome, as one: the default folder's state, and a line per folder naming it when there are
// several.
Outcome combined(const QList<std::pair<Target, Outcome>>& each)
{
    Outcome all = each.first().second;
    const auto failed = [](const auto& one) { return one.second.bridgeStatus.state == State::error; };
    all.failed = std::any_of(each.cbegin(), each.cend(), failed);
    if (each.size() == 1)
        return all;
    QStringList lines;
    for (const auto& [target, outcome] : each)
        lines.append(shown(target.folder) + QStringLiteral(": ") + outcome.message);
    all.message = lines.join(QLatin1Char('\n'));
    return all;
}

Outcome installIn(const Target& target, const Settings& settings, const QString& script)
{
    if (settings.kind == Settings::Kind::unreadable)
        return unreadable(target);
    if (!settingsWritable(target))
        return failure(QStringLiteral("write failed"), writeFailedMessage(target));

    const Saved oldBackup = Saved::of(backupPath(target));
    const Saved oldPrevious = Saved::of(recordPath(target));
    if (settings.kind == Settings::Kind::object)
        backUp(target, settings);

    const std::optional<QString> current = statusLineCommand(settings.object);
    if (const std::optional<JsonText::Member> line = statusLineMember(settings.text)) {
        // Over the bridge itself the record of the user's own line stays.
        if (!current || !current->contains(marker))
            writePrevious(target, current,
                          settings.text.sliced(line->valueBegin, line->valueEnd - line->valueBegin));
    } else {
        // Without a status line, a recorded command is one the user has since removed: not to be wrapped.
        removeRecord(target);
    }
    // Another folder without a record of its own would have its sessions run the default folder's line.
    if (!target.isDefault && !readRecord(target))
        writeRecord(target, {});
    const std::optional<QString> previous = readPreviousCommand(target);

    if (!writeSettings(target, withBridge(settings.text, commandFor(commandPath(script))))) {
        oldBackup.restore();
        oldPrevious.restore();
        return failure(QStringLiteral("write failed"), writeFailedMessage(target), previous);
    }
    if (previous)
        return {{State::wrapping, previous, {}},
                QStringLiteral("Installed Tallyvane bridge wrapping your existing status line.")};
    return {{State::installed, std::nullopt, {}},
            QStringLiteral("Installed Tallyvane bridge as the Claude status line.")};
}

Outcome uninstallIn(const Target& target)
{
    const Settings settings = readSettings(target);
    if (settings.kind == Settings::Kind::unreadable)
        return unreadable(target);
    if (settings.kind == Settings::Kind::missing)
        return {{}, QStringLiteral("No Claude settings found; nothing to uninstall.")};
    // Someone else's status line is theirs: uninstalling the bridge must not take it away.
    const std::optional<QString> current = statusLineCommand(settings.object);
    const std::optional<JsonText::Member> line = statusLineMember(settings.text);
    if (line && (!current || !current->contains(marker)))
        return {{State::foreign, current, {}},
                QStringLiteral("The Claude status line is not Tallyvane's bridge; nothing was changed.")};
    if (!settingsWritable(target))
        return failure(QStringLiteral("write failed"), writeFailedMessage(target));

    const Saved oldBackup = Saved::of(backupPath(target));
    const Saved oldPrevious = Saved::of(recordPath(target));
    // Without the bridge in place, a recorded command is one the user has since removed: not to be restored.
    if (!line) {
        removeRecord(target);
        return {{}, QStringLiteral("Removed the Tallyvane status line.")};
    }
    backUp(target, settings);
    const Previous previous = readPrevious(target);
    const qsizetype top = JsonText::topBegin(settings.text);
    QByteArray updated;
    if (previous.statusLine)
        updated = JsonText::set(settings.text, top, statusLineKey, *previous.statusLine);
    else if (previous.command)
        updated =
            JsonText::set(settings.text, line->valueBegin, u"command", JsonText::quoted(*previous.command));
    else
        updated = JsonText::remove(settings.text, top, statusLineKey);
    if (!writeSettings(target, updated)) {
        oldBackup.restore();
        oldPrevious.restore();
        return failure(QStringLiteral("write failed"), writeFailedMessage(target));
    }
    removeRecord(target);
    if (previous.statusLine || previous.command)
        return {{}, QStringLiteral("Removed bridge and restored your previous status line.")};
    return {{}, QStringLiteral("Removed the Tallyvane status line.")};
}

} // namespace

ClaudeBridgeStatus currentStatus()
{
    // Only the default folder: the published state is about it, and this runs on every cycle.
    const Target target{ClaudePaths::configDirectory(), true};
    const Settings settings = readSettings(target);
    if (settings.kind != Settings::Kind::object)
        return {};
    const std::optional<QString> command = statusLineCommand(settings.object);
    if (!command)
        return {};
    if (!command->contains(marker))
        return {State::foreign, command, {}};
    if (std::optional<QString> previous = readPreviousCommand(target))
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
    QList<std::pair<Target, Settings>> folders;
    for (const Target& target : targets())
        folders.append({target, readSettings(target)});
    const auto readable = [](const auto& folder) { return folder.second.kind != Settings::Kind::unreadable; };
    QList<std::pair<Target, Outcome>> each;
    // With no folder to install into, nothing is deployed either.
    if (std::none_of(folders.cbegin(), folders.cend(), readable)) {
        for (const auto& [target, settings] : folders)
            each.append({target, unreadable(target)});
        return combined(each);
    }

    LocalFileStore::makeFolder(LocalFileStore::baseDirectory());
    const std::optional<QString> script = deployBridgeScript();
    if (!script)
        return failure(QStringLiteral("Bundle script missing"),
                       QStringLiteral("Could not locate the bundled bridge script."));
    for (const auto& [target, settings] : folders)
        each.append({target, installIn(target, settings, *script)});
    return combined(each);
}

Outcome uninstall()
{
    QList<std::pair<Target, Outcome>> each;
    for (const Target& target : targets())
        each.append({target, uninstallIn(target)});
    return combined(each);
}

} // namespace ClaudeStatusLineBridgeInstaller
