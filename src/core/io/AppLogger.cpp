#include "core/io/AppLogger.h"

#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <array>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

struct ScrubRule
{
    QRegularExpression pattern;
    QString replacement;
};

const std::array<ScrubRule, 3>& scrubRules()
{
    static const std::array<ScrubRule, 3> rules{{
        {QRegularExpression(QStringLiteral("[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,}")),
         QStringLiteral("<email>")},
        {QRegularExpression(QStringLiteral("(sk|pk|tok|key|bearer|secret)[-_a-z0-9]{8,}"),
                            QRegularExpression::CaseInsensitiveOption),
         QStringLiteral("<token>")},
        {QRegularExpression(QStringLiteral("https?://[^\\s]*?(code|token|verify|auth)[^\\s]*")),
         QStringLiteral("<auth-url>")},
    }};
    return rules;
}

} // namespace

AppLogger& AppLogger::shared()
{
    static AppLogger logger;
    return logger;
}

AppLogger::AppLogger() : m_fileName(LocalFileStore::logPath())
{
    LocalFileStore::ensureDirectories();
}

QString AppLogger::redact(const QString& text)
{
    QString result = text;
    for (const ScrubRule& rule : scrubRules()) {
        if (rule.pattern.isValid())
            result.replace(rule.pattern, rule.replacement);
    }
    return result;
}

void AppLogger::info(const QString& message)
{
    write(QLatin1StringView("INFO"), message);
}

void AppLogger::warn(const QString& message)
{
    write(QLatin1StringView("WARN"), message);
}

void AppLogger::error(const QString& message)
{
    {
        std::lock_guard lock(m_lastErrorMutex);
        m_lastError = redact(message);
    }
    write(QLatin1StringView("ERROR"), message);
}

std::optional<QString> AppLogger::lastError() const
{
    std::lock_guard lock(m_lastErrorMutex);
    return m_lastError;
}

void AppLogger::flush()
{
    m_queue.sync([] {});
}

void AppLogger::write(QLatin1StringView level, const QString& message)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QByteArray line = (QLatin1Char('[') + stamp + QStringLiteral("] ") + level + QLatin1Char(' ') +
                             redact(message) + QLatin1Char('\n'))
                                .toUtf8();
    m_queue.async([fileName = m_fileName, line] {
        // Non-blocking: a FIFO standing where the log should be must not stall the queue (or a flush).
        const FileIo::Descriptor fd(FileIo::openOwn(fileName, O_WRONLY | O_APPEND));
        struct stat info = {};
        if (fd.isOpen()) {
            if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode))
                FileIo::writeFully(fd.get(), line);
            return;
        }
        if (errno == ENOENT)
            AtomicFile::write(fileName, line);
        // An existing log we cannot open is left alone; the entry is lost.
    });
}
