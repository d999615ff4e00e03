#include "providers/claude/ClaudeCredentialFile.h"

#include "core/AtomicFile.h"
#include "core/FileIo.h"
#include "providers/claude/ClaudePaths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// A credential document is a few hundred bytes.
constexpr qint64 maxCredentialBytes = 1024 * 1024;

bool accessible(const QString& path, int mode, QString* why)
{
    if (::access(QFile::encodeName(path).constData(), mode) == 0)
        return true;
    if (why)
        *why = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

} // namespace

ClaudeCredentialFile::ClaudeCredentialFile(QString path)
    : m_path(path.isEmpty() ? ClaudePaths::credentialsPath() : std::move(path))
{}

QString ClaudeCredentialFile::location() const
{
    return m_path;
}

std::optional<QByteArray> ClaudeCredentialFile::read() const
{
    return FileIo::readRegularFile(m_path, maxCredentialBytes);
}

bool ClaudeCredentialFile::canWrite(QString* why) const
{
    // The atomic replace writes a new file beside the link's target and renames it over that target.
    const QString target = AtomicFile::resolveLinks(m_path);
    return accessible(target, W_OK, why) && accessible(QFileInfo(target).absolutePath(), W_OK | X_OK, why);
}

bool ClaudeCredentialFile::write(const QByteArray& document, QString* error)
{
    AtomicFile::Options options;
    options.mode = 0600;
    options.followForeignLinks = true;
    return AtomicFile::write(m_path, document, error, options);
}
