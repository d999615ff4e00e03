#include "core/io/MachineMirror.h"

#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/text/JsonLines.h"
#include "core/text/TerminalText.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <array>

namespace {

using namespace Qt::StringLiterals;

constexpr qint64 maxStateFile = 256 * 1024;
constexpr qint64 maxUsageFile = 16 * 1024 * 1024;

constexpr std::array problems{
    std::pair{MachineMirror::State::Problem::none, "none"},
    std::pair{MachineMirror::State::Problem::unreachable, "unreachable"},
    std::pair{MachineMirror::State::Problem::notInstalled, "notInstalled"},
    std::pair{MachineMirror::State::Problem::tooOld, "tooOld"},
    std::pair{MachineMirror::State::Problem::badFeed, "badFeed"},
    std::pair{MachineMirror::State::Problem::itself, "itself"},
    std::pair{MachineMirror::State::Problem::duplicate, "duplicate"},
};

void putDate(QJsonObject& object, const char* key, const std::optional<QDateTime>& date)
{
    if (date)
        object.insert(QLatin1StringView(key), JsonLines::formatDate(*date));
}

std::optional<QDateTime> getDate(const QJsonObject& object, const char* key)
{
    return JsonLines::decodeDate(object.value(QLatin1StringView(key)));
}

QString text(const QJsonObject& object, const char* key)
{
    return TerminalText::name(object.value(QLatin1StringView(key)).toString()).left(200);
}

} // namespace

namespace MachineMirror {

QString ownId()
{
    const QString path = LocalFileStore::path(u"machine-id"_s);
    if (const auto bytes = FileIo::readOwnFile(path, 1024)) {
        const QString id = QString::fromLatin1(bytes->trimmed());
        if (MachineFeed::isMachineId(id))
            return id;
    }
    std::array<quint32, 4> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QString id =
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(random.data()), sizeof random).toHex());
    LocalFileStore::ensureDirectories();
    return AtomicFile::write(path, (id + u'\n').toLatin1()) ? id : QString();
}

QString root()
{
    return LocalFileStore::path(u"machines"_s);
}

QString folder(const QString& machineId)
{
    return MachineFeed::isMachineId(machineId) ? root() + u'/' + machineId : QString();
}

QString snapshotsPath(const QString& machineId)
{
    const QString f = folder(machineId);
    return f.isEmpty() ? QString() : f + u"/snapshots.ndjson"_s;
}

QString statePath(const MachineList::Machine& machine)
{
    return root() + u'/' + machine.key() + u".json"_s;
}

State loadState(const MachineList::Machine& machine)
{
    State state;
    const auto bytes = FileIo::readOwnFile(statePath(machine), maxStateFile);
    if (!bytes)
        return state;
    const QJsonObject o = QJsonDocument::fromJson(*bytes).object();
    const QString id = o.value("machine"_L1).toString();
    state.machine = MachineFeed::isMachineId(id) ? id : QString();
    state.host = text(o, "host");
    state.version = text(o, "version");
    state.zone = text(o, "zone");
    state.cursor = MachineFeed::Cursor::decode(o.value("cursor"_L1).toString())
                       ? o.value("cursor"_L1).toString()
                       : QString();
    state.lastAttempt = getDate(o, "lastAttempt");
    state.lastSuccess = getDate(o, "lastSuccess");
    state.failingSince = getDate(o, "failingSince");
    const QString problem = o.value("problem"_L1).toString();
    for (const auto& [value, name] : problems)
        if (problem == QLatin1StringView(name))
            state.problem = value;
    state.error = text(o, "error");
    for (const QJsonValue& v : o.value("accounts"_L1).toArray()) {
        const QJsonObject a = v.toObject();
        const auto provider = fromRawValue<Provider>(a.value("provider"_L1).toString());
        if (provider)
            state.accounts.append({*provider, text(a, "key"), text(a, "label"),
                                   a.value("default"_L1).toBool(), a.value("identified"_L1).toBool()});
    }
    return state;
}

bool saveState(const MachineList::Machine& machine, const State& state)
{
    QJsonObject o{{u"destination"_s, machine.destination}};
    if (!state.machine.isEmpty())
        o.insert(u"machine"_s, state.machine);
    o.insert(u"host"_s, state.host);
    o.insert(u"version"_s, state.version);
    o.insert(u"zone"_s, state.zone);
    o.insert(u"cursor"_s, state.cursor);
    putDate(o, "lastAttempt", state.lastAttempt);
    putDate(o, "lastSuccess", state.lastSuccess);
    putDate(o, "failingSince", state.failingSince);
    for (const auto& [value, name] : problems)
        if (state.problem == value)
            o.insert(u"problem"_s, QLatin1StringView(name));
    o.insert(u"error"_s, state.error);
    QJsonArray accounts;
    for (const MachineFeed::Account& a : state.accounts)
        accounts.append(QJsonObject{{u"provider"_s, rawValue(a.provider)},
                                    {u"key"_s, a.key},
                                    {u"label"_s, a.label},
                                    {u"default"_s, a.isDefault},
                                    {u"identified"_s, a.identified}});
    o.insert(u"accounts"_s, accounts);
    LocalFileStore::makeFolder(root());
    return AtomicFile::write(statePath(machine), QJsonDocument(o).toJson(QJsonDocument::Indented));
}

Usage loadUsage(const QString& machineId)
{
    Usage usage;
    const QString f = folder(machineId);
    if (f.isEmpty())
        return usage;
    const auto bytes = FileIo::readOwnFile(f + u"/usage.ndjson"_s, maxUsageFile);
    if (!bytes)
        return usage;
    // The same reader as a pull's, so a file changed behind our back is still taken as untrusted data.
    MachineFeed::Reader reader;
    reader.add(*bytes);
    if (reader.header())
        usage.zone = reader.header()->zone;
    usage.rows = reader.usage();
    return usage;
}

bool saveUsage(const QString& machineId, const Usage& usage)
{
    const QString f = folder(machineId);
    if (f.isEmpty())
        return false;
    MachineFeed::Header header;
    header.machine = machineId;
    header.zone = usage.zone;
    QByteArray bytes = MachineFeed::headerLine(header);
    for (const MachineFeed::UsageRow& row : usage.rows)
        bytes += MachineFeed::usageLine(row);
    LocalFileStore::makeFolder(f);
    return AtomicFile::write(f + u"/usage.ndjson"_s, bytes);
}

void remove(const MachineList::Machine& machine, const QString& machineId)
{
    QFile::remove(statePath(machine));
    if (const QString f = folder(machineId); !f.isEmpty())
        QDir(f).removeRecursively();
}

} // namespace MachineMirror
