#include "cli/FeedCommand.h"

#include "app/AccountSettings.h"
#include "core/io/AccountList.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/io/MachineMirror.h"
#include "core/io/SnapshotStore.h"
#include "core/text/SnapshotLineDecoder.h"
#include "history/UsageHistory.h"
#include "providers/AccountFolders.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>
#include <QSysInfo>
#include <QTimeZone>

#include <cstdio>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;

constexpr qint64 tailBytes = 64;

// The hash a cursor keeps of the bytes just before `offset`: a log rewritten in place under the same name and
// size would not match it.
QByteArray tailHash(int fd, qint64 offset)
{
    if (offset <= 0)
        return {};
    const qint64 from = std::max<qint64>(0, offset - tailBytes);
    const std::optional<QByteArray> bytes = FileIo::readAt(fd, from, offset - from);
    if (!bytes || bytes->size() != offset - from)
        return {};
    return QCryptographicHash::hash(*bytes, QCryptographicHash::Sha256).toHex().left(16);
}

class Output
{
public:
    void write(const QByteArray& line)
    {
        m_buffer += line;
        if (m_buffer.size() >= 256 * 1024)
            flush();
    }
    bool flush()
    {
        const bool ok = std::fwrite(m_buffer.constData(), 1, std::size_t(m_buffer.size()), stdout) ==
                        std::size_t(m_buffer.size());
        m_buffer.clear();
        return ok;
    }

private:
    QByteArray m_buffer;
};

QList<MachineFeed::Account> accounts()
{
    QList<MachineFeed::Account> list;
    const QList<AccountFolder> added = AccountList::load();
    for (Provider provider : allProviders) {
        for (const AccountFolders::Account& a : AccountFolders::accounts(provider, added))
            list.append({provider, a.key, a.label, a.folder.isDefault,
                         AccountFolders::identity(a.folder).has_value()});
    }
    return list;
}

QList<MachineFeed::UsageRow> usageRows()
{
    UsageHistory::Options options = UsageHistory::defaults();
    AccountSettings::addTranscriptRoots(options);
    options.watch.enabled = false;
    options.countInline = true;
    UsageHistory history(options);
    history.refreshSync();
    const std::shared_ptr<const UsageTotals> totals = history.totals();
    QList<MachineFeed::UsageRow> rows;
    if (!totals)
        return rows;
    const QDate epoch(1970, 1, 1);
    const auto add = [&](Provider provider, const QString& account, const UsageTotals::Series& series) {
        std::set<qint64> days;
        for (const auto& entry : series.dayTokens)
            days.insert(entry.first);
        for (const auto& entry : series.dayCostNanos)
            days.insert(entry.first);
        for (const qint64 day : days) {
            const auto tokens = series.dayTokens.find(day);
            rows.append({epoch.addDays(day), provider, account,
                         tokens == series.dayTokens.end() ? 0 : tokens->second, series.costUSD(day)});
        }
    };
    for (Provider provider : allProviders)
        add(provider, {}, totals->of(provider));
    for (const auto& [account, series] : totals->accounts)
        add(account.first, account.second, series);
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.day < b.day; });
    return rows;
}

} // namespace

namespace FeedCommand {

std::variant<Options, QString> parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--since"_L1 && i + 1 < arguments.size()) {
            options.since = MachineFeed::Cursor::decode(arguments[++i]);
            if (!options.since)
                return u"--since takes a cursor a feed printed"_s;
        } else {
            return u"unknown argument '%1'"_s.arg(arguments[i]);
        }
    }
    return options;
}

int run(const Options& options)
{
    LocalFileStore::tightenExisting();
    MachineFeed::Header header;
    header.machine = MachineMirror::ownId();
    if (header.machine.isEmpty()) {
        std::fputs("tallyvane: the data folder cannot hold this machine's id\n", stderr);
        return 1;
    }
    header.host = QSysInfo::machineHostName();
    header.version = QStringLiteral(TALLYVANE_VERSION);
    header.zone = QString::fromLatin1(QTimeZone::systemTimeZoneId());
    header.accounts = accounts();
    Output out;
    out.write(MachineFeed::headerLine(header));

    MachineFeed::Trailer trailer;
    const QByteArray path = QFile::encodeName(LocalFileStore::snapshotsPath());
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info = {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        qint64 offset = 0;
        // The cursor holds while it points into this very file at a place whose bytes are unchanged; a pruned
        // or replaced log starts again from its beginning (the puller drops what it has by id).
        if (options.since && options.since->inode == quint64(info.st_ino) &&
            options.since->offset <= info.st_size &&
            tailHash(fd, options.since->offset) == options.since->tail)
            offset = options.since->offset;
        qint64 sent = 0;
        QByteArray pending;
        while (offset + pending.size() < info.st_size && sent < options.budget) {
            const qint64 from = offset + pending.size();
            const std::optional<QByteArray> chunk =
                FileIo::readAt(fd, from, std::min<qint64>(1024 * 1024, info.st_size - from));
            if (!chunk || chunk->isEmpty())
                break;
            pending += *chunk;
            qsizetype start = 0;
            for (qsizetype end = pending.indexOf('\n'); end >= 0 && sent < options.budget;
                 end = pending.indexOf('\n', start)) {
                const QByteArrayView line = QByteArrayView(pending).sliced(start, end - start);
                if (line.size() <= SnapshotStore::maxLineBytes) {
                    if (const std::optional<UsageSnapshot> s = SnapshotLineDecoder::decode(line)) {
                        const QByteArray encoded = MachineFeed::snapshotLine(*s);
                        out.write(encoded);
                        sent += encoded.size();
                        ++trailer.snapshots;
                    }
                }
                start = end + 1;
            }
            offset += start;
            pending.remove(0, start);
            // A line longer than any writer makes is passed over rather than held.
            if (pending.size() > SnapshotStore::maxLineBytes) {
                const qsizetype end = pending.indexOf('\n');
                if (end < 0) {
                    offset += pending.size();
                    pending.clear();
                }
            }
        }
        trailer.cursor.inode = quint64(info.st_ino);
        trailer.cursor.offset = offset;
        trailer.cursor.tail = tailHash(fd, offset);
    }
    if (fd >= 0)
        ::close(fd);

    const QList<MachineFeed::UsageRow> rows = usageRows();
    trailer.cursor.usage = MachineFeed::usageDigest(rows);
    trailer.usageSent = !options.since || options.since->usage != trailer.cursor.usage;
    if (trailer.usageSent)
        for (const MachineFeed::UsageRow& row : rows)
            out.write(MachineFeed::usageLine(row));
    out.write(MachineFeed::trailerLine(trailer));
    return out.flush() && std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace FeedCommand
