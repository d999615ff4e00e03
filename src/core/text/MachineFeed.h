#pragma once

#include "core/model/Enums.h"
#include "core/model/UsageSnapshot.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include <optional>

// What `tallyvane feed` prints for another machine to pull over SSH, and the reader of it there: JSON lines,
// a header, the snapshots the log gained since the caller's cursor, the usage rows, and a trailer with the
// next cursor. The reader takes the other machine's output as untrusted data: bounded in size and line
// length, every line decoded as data, every text cleaned.
namespace MachineFeed {

inline constexpr int formatVersion = 1;
inline constexpr qint64 maxPullBytes = 64 * 1024 * 1024;
inline constexpr qsizetype maxLineBytes = 10000;

// Where the last pull ended in the other machine's log. Its text holds digits, a-f and dots only, since it
// travels inside a command line a remote shell reads.
struct Cursor
{
    quint64 inode = 0; // of the log file the offset points into
    qint64 offset = 0; // just past the last line sent
    QByteArray tail;   // 16 hex digits hashing the bytes just before the offset
    QByteArray usage;  // 16 hex digits hashing the usage rows last sent

    QString encode() const;
    static std::optional<Cursor> decode(QStringView text);
    friend bool operator==(const Cursor&, const Cursor&) = default;
};

struct Account
{
    Provider provider = Provider::claude;
    QString key;
    QString label;
    bool isDefault = false;
    // The key stands for the assistant's own account id (not a folder's path), so it names the same account
    // on every machine.
    bool identified = false;
    friend bool operator==(const Account&, const Account&) = default;
};

struct Header
{
    QString machine; // the machine's own random id, 16 to 64 hex digits
    QString host;
    QString version;
    int format = formatVersion;
    QString zone; // the IANA id its usage days are local to
    QList<Account> accounts;
    friend bool operator==(const Header&, const Header&) = default;
};

// Tokens and estimated spend of one local day of one provider and account.
struct UsageRow
{
    QDate day;
    Provider provider = Provider::claude;
    QString account; // empty: the default one
    qint64 tokens = 0;
    double costUSD = 0;
    friend bool operator==(const UsageRow&, const UsageRow&) = default;
};

struct Trailer
{
    Cursor cursor;
    qint64 snapshots = 0;
    // False when the usage rows are those of the cursor's hash, so none were sent.
    bool usageSent = false;
    friend bool operator==(const Trailer&, const Trailer&) = default;
};

QByteArray headerLine(const Header& header);
QByteArray snapshotLine(const UsageSnapshot& snapshot);
QByteArray usageLine(const UsageRow& row);
QByteArray trailerLine(const Trailer& trailer);
// The hash a cursor carries for a set of rows, in their order.
QByteArray usageDigest(const QList<UsageRow>& rows);

// A machine id as every file name and comparison takes it: 16 to 64 lower-case hex digits.
bool isMachineId(QStringView text);

// Reads one pull's output piece by piece.
class Reader
{
public:
    enum class Failure
    {
        none,
        tooLarge,    // more than maxPullBytes
        lineTooLong, // a line of more than maxLineBytes
        badLine,     // a line that is not one of the feed's
        noHeader,    // the first line is not a header
        unsupported, // a header of another format
    };

    // False once the output has failed (read no more) or the trailer has come (nothing after it counts).
    bool add(QByteArrayView bytes);

    const std::optional<Header>& header() const { return m_header; }
    // The snapshots of the complete lines read, cleaned.
    const QList<UsageSnapshot>& snapshots() const { return m_snapshots; }
    const QList<UsageRow>& usage() const { return m_usage; }
    const std::optional<Trailer>& trailer() const { return m_trailer; }
    Failure failure() const { return m_failure; }
    qint64 bytes() const { return m_bytes; }
    // The version a header of another format named.
    const QString& otherVersion() const { return m_otherVersion; }

private:
    bool line(QByteArrayView text);
    bool fail(Failure failure);

    QByteArray m_partial;
    qint64 m_bytes = 0;
    std::optional<Header> m_header;
    QList<UsageSnapshot> m_snapshots;
    QList<UsageRow> m_usage;
    std::optional<Trailer> m_trailer;
    Failure m_failure = Failure::none;
    QString m_otherVersion;
};

} // namespace MachineFeed
