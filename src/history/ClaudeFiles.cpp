#include "history/ClaudeFiles.h"

#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"

#include <QRegularExpression>

ClaudeFiles::ClaudeFiles(QString folder, bool readOnly, QString account)
    : m_folder(std::move(folder)), m_readOnly(readOnly), m_account(std::move(account))
{}

std::shared_ptr<ClaudeFiles> ClaudeFiles::forAccount(const ClaudeFiles& base, const QString& account)
{
    return std::make_shared<ClaudeFiles>(base.folder() + QStringLiteral("/accounts/") + account,
                                         base.readOnly(), account);
}

std::optional<QByteArray> ClaudeFiles::read(QLatin1StringView name) const
{
    {
        std::lock_guard lock(m_mutex);
        const auto kept = m_memory.constFind(QString(name));
        if (kept != m_memory.cend())
            return *kept;
    }
    return FileIo::readOwnFile(m_folder + QLatin1Char('/') + name, 1 << 20);
}

void ClaudeFiles::write(QLatin1StringView name, const QByteArray& bytes)
{
    std::lock_guard lock(m_mutex);
    ++m_writes;
    if (m_readOnly) {
        m_memory.insert(QString(name), bytes);
        return;
    }
    LocalFileStore::makeFolder(m_folder);
    (void)AtomicFile::write(m_folder + QLatin1Char('/') + name, bytes);
}

int ClaudeFiles::writes() const
{
    std::lock_guard lock(m_mutex);
    return m_writes;
}

void ClaudeFiles::logInfo(const QString& message)
{
    {
        std::lock_guard lock(m_mutex);
        m_logged.append(message);
        if (m_logged.size() > 20)
            m_logged.removeFirst();
    }
    if (!m_readOnly)
        AppLogger::shared().info(message);
}

QStringList ClaudeFiles::loggedLines() const
{
    std::lock_guard lock(m_mutex);
    return m_logged;
}

QString ClaudeFiles::formatDate(const QDateTime& date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

std::optional<QDateTime> ClaudeFiles::parseDate(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}(Z|[+-]\\d{2}:\\d{2})$"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}
