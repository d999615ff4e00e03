#include "core/io/MachineList.h"

#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/text/TerminalText.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using namespace Qt::StringLiterals;

constexpr qint64 maxFile = 256 * 1024;

} // namespace

namespace MachineList {

QString Machine::name() const
{
    if (!label.isEmpty())
        return label;
    return destination.section(u'@', -1);
}

QString Machine::key() const
{
    return QString::fromLatin1(
        QCryptographicHash::hash(destination.toUtf8(), QCryptographicHash::Sha256).toHex().left(8));
}

std::optional<QString> destinationProblem(const QString& destination)
{
    if (destination.isEmpty())
        return u"the destination is empty"_s;
    if (destination.size() > 255)
        return u"the destination is longer than 255 characters"_s;
    if (destination.startsWith(u'-'))
        return u"a destination cannot start with \"-\""_s;
    for (const QChar c : destination)
        if (TerminalText::isControl(c.unicode()) || c.isSpace())
            return u"a destination cannot hold a control character or white space"_s;
    return std::nullopt;
}

QString path()
{
    return LocalFileStore::path(u"machines.json"_s);
}

QByteArray encode(const QList<Machine>& machines)
{
    QJsonArray entries;
    for (const Machine& m : machines) {
        QJsonObject entry{{u"destination"_s, m.destination}, {u"enabled"_s, m.enabled}};
        if (!m.label.isEmpty())
            entry.insert(u"label"_s, m.label);
        entries.append(entry);
    }
    return QJsonDocument(QJsonObject{{u"machines"_s, entries}}).toJson(QJsonDocument::Indented);
}

QList<Machine> decode(const QByteArray& bytes)
{
    QList<Machine> machines;
    const QJsonArray entries = QJsonDocument::fromJson(bytes).object().value("machines"_L1).toArray();
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        Machine m;
        m.destination = entry.value("destination"_L1).toString();
        if (destinationProblem(m.destination) || find(machines, m.destination))
            continue;
        m.label = TerminalText::name(entry.value("label"_L1).toString()).left(64);
        m.enabled = entry.value("enabled"_L1).toBool(true);
        machines.append(m);
    }
    return machines;
}

QList<Machine> load()
{
    const auto bytes = FileIo::readOwnFile(path(), maxFile);
    return bytes ? decode(*bytes) : QList<Machine>();
}

bool save(const QList<Machine>& machines, QString* error)
{
    LocalFileStore::ensureDirectories();
    return AtomicFile::write(path(), encode(machines), error);
}

std::optional<Machine> find(const QList<Machine>& machines, const QString& name)
{
    for (const Machine& m : machines)
        if (m.destination == name)
            return m;
    for (const Machine& m : machines)
        if (m.name() == name)
            return m;
    return std::nullopt;
}

} // namespace MachineList
