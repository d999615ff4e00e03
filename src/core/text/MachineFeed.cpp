#include "core/text/MachineFeed.h"

#include "core/text/JsonLines.h"
#include "core/text/TerminalText.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace {

using namespace Qt::StringLiterals;

bool isHex(QStringView text, qsizetype from, qsizetype to)
{
    if (text.size() < from || text.size() > to)
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); });
}

// A version as a release names itself ("0.2.0", "1.0~rc1"); anything else is shown as "unknown".
QString cleanVersion(const QString& text)
{
    static const QRegularExpression form(u"^[0-9A-Za-z.+~-]{1,32}$"_s);
    return form.match(text).hasMatch() ? text : u"unknown"_s;
}

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

namespace MachineFeed {

QString Cursor::encode() const
{
    return u"1.%1.%2.%3.%4"_s.arg(inode)
        .arg(offset)
        .arg(QString::fromLatin1(tail.isEmpty() ? "0" : tail))
        .arg(QString::fromLatin1(usage.isEmpty() ? "0" : usage));
}

std::optional<Cursor> Cursor::decode(QStringView text)
{
    const QList<QStringView> parts = text.split(u'.');
    if (text.size() > 128 || parts.size() != 5 || parts[0] != u"1")
        return std::nullopt;
    bool inodeOk = false;
    bool offsetOk = false;
    Cursor cursor;
    cursor.inode = parts[1].toULongLong(&inodeOk);
    cursor.offset = parts[2].toLongLong(&offsetOk);
    const auto digest = [](QStringView part) -> std::optional<QByteArray> {
        if (part == u"0")
            return QByteArray();
        if (!isHex(part, 16, 16))
            return std::nullopt;
        return part.toLatin1();
    };
    const auto tail = digest(parts[3]);
    const auto usage = digest(parts[4]);
    if (!inodeOk || !offsetOk || cursor.offset < 0 || !tail || !usage)
        return std::nullopt;
    cursor.tail = *tail;
    cursor.usage = *usage;
    return cursor;
}

bool isMachineId(QStringView text)
{
    return isHex(text, 16, 64);
}

QByteArray headerLine(const Header& header)
{
    QJsonArray accounts;
    for (const Account& a : header.accounts)
        accounts.append(QJsonObject{{u"provider"_s, rawValue(a.provider)},
                                    {u"key"_s, a.key},
                                    {u"label"_s, a.label},
                                    {u"default"_s, a.isDefault},
                                    {u"identified"_s, a.identified}});
    return line({{u"type"_s, u"header"_s},
                 {u"machine"_s, header.machine},
                 {u"host"_s, header.host},
                 {u"version"_s, header.version},
                 {u"format"_s, header.format},
                 {u"zone"_s, header.zone},
                 {u"accounts"_s, accounts}});
}

QByteArray snapshotLine(const UsageSnapshot& snapshot)
{
    return line({{u"type"_s, u"snapshot"_s}, {u"snapshot"_s, snapshot.toJson()}});
}

QByteArray usageLine(const UsageRow& row)
{
    QJsonObject object{{u"type"_s, u"usage"_s},
                       {u"day"_s, row.day.toString(Qt::ISODate)},
                       {u"provider"_s, rawValue(row.provider)},
                       {u"tokens"_s, row.tokens},
                       {u"costUSD"_s, row.costUSD}};
    if (!row.account.isEmpty())
        object.insert(u"account"_s, row.account);
    return line(object);
}

QByteArray trailerLine(const Trailer& trailer)
{
    return line({{u"type"_s, u"end"_s},
                 {u"cursor"_s, trailer.cursor.encode()},
                 {u"snapshots"_s, trailer.snapshots},
                 {u"usageSent"_s, trailer.usageSent}});
}

QByteArray usageDigest(const QList<UsageRow>& rows)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const UsageRow& row : rows)
        hash.addData(usageLine(row));
    return hash.result().toHex().left(16);
}

bool Reader::fail(Failure failure)
{
    m_failure = failure;
    m_partial.clear();
    return false;
}

bool Reader::add(QByteArrayView bytes)
{
    if (m_failure != Failure::none || m_trailer)
        return false;
    m_bytes += bytes.size();
    if (m_bytes > maxPullBytes)
        return fail(Failure::tooLarge);
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const QByteArrayView piece = end < 0 ? bytes : bytes.first(end);
        if (m_partial.size() + piece.size() > maxLineBytes)
            return fail(Failure::lineTooLong);
        if (end < 0) {
            m_partial.append(piece);
            return true;
        }
        bytes = bytes.sliced(end + 1);
        bool more = true;
        if (m_partial.isEmpty()) {
            more = line(piece);
        } else {
            m_partial.append(piece);
            more = line(m_partial);
            m_partial.clear();
        }
        if (!more)
            return false;
    }
    return true;
}

bool Reader::line(QByteArrayView text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return fail(m_header ? Failure::badLine : Failure::noHeader);
    const QJsonObject object = document.object();
    const QString type = object.value("type"_L1).toString();
    if (!m_header) {
        if (type != "header"_L1)
            return fail(Failure::noHeader);
        Header header;
        header.format = object.value("format"_L1).toInt(-1);
        if (header.format != formatVersion) {
            m_otherVersion = cleanVersion(object.value("version"_L1).toString());
            return fail(Failure::unsupported);
        }
        header.machine = object.value("machine"_L1).toString();
        if (!isMachineId(header.machine))
            return fail(Failure::noHeader);
        header.host = TerminalText::name(object.value("host"_L1).toString()).left(64);
        header.version = cleanVersion(object.value("version"_L1).toString());
        header.zone = TerminalText::name(object.value("zone"_L1).toString()).left(64);
        const QJsonArray accounts = object.value("accounts"_L1).toArray();
        for (const QJsonValue& value : accounts) {
            const QJsonObject a = value.toObject();
            const auto provider = fromRawValue<Provider>(a.value("provider"_L1).toString());
            const QString key = a.value("key"_L1).toString();
            if (!provider || !isHex(key, 8, 16) || header.accounts.size() >= 64)
                continue;
            header.accounts.append({*provider, key,
                                    TerminalText::name(a.value("label"_L1).toString()).left(64),
                                    a.value("default"_L1).toBool(), a.value("identified"_L1).toBool()});
        }
        m_header = header;
        return true;
    }
    if (type == "snapshot"_L1) {
        std::optional<UsageSnapshot> snapshot =
            UsageSnapshot::fromJson(object.value("snapshot"_L1).toObject());
        if (!snapshot || (snapshot->account && !isHex(*snapshot->account, 8, 16)))
            return fail(Failure::badLine);
        m_snapshots.append(std::move(*snapshot));
        return true;
    }
    if (type == "usage"_L1) {
        UsageRow row;
        row.day = QDate::fromString(object.value("day"_L1).toString(), Qt::ISODate);
        const auto provider = fromRawValue<Provider>(object.value("provider"_L1).toString());
        const std::optional<qint64> tokens = JsonLines::integer(object.value("tokens"_L1));
        const QJsonValue cost = object.value("costUSD"_L1);
        row.account = object.value("account"_L1).toString();
        if (!row.day.isValid() || !provider || !tokens || *tokens < 0 || !cost.isDouble() ||
            !std::isfinite(cost.toDouble()) || cost.toDouble() < 0 ||
            (!row.account.isEmpty() && !isHex(row.account, 8, 16)))
            return fail(Failure::badLine);
        row.provider = *provider;
        row.tokens = *tokens;
        row.costUSD = cost.toDouble();
        m_usage.append(row);
        return true;
    }
    if (type == "end"_L1) {
        const auto cursor = Cursor::decode(object.value("cursor"_L1).toString());
        const std::optional<qint64> count = JsonLines::integer(object.value("snapshots"_L1));
        if (!cursor || !count)
            return fail(Failure::badLine);
        m_trailer = Trailer{*cursor, *count, object.value("usageSent"_L1).toBool()};
        return false;
    }
    return fail(Failure::badLine);
}

} // namespace MachineFeed
