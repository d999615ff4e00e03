#include "providers/claude/ClaudeCredentialFile.h"

#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "providers/claude/ClaudePaths.h"

namespace {

// A credential document is a few hundred bytes.
constexpr qint64 maxCredentialBytes = 1024 * 1024;

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

namespace {

AtomicFile::Options writeOptions(AtomicFile::Reservation* room)
{
    AtomicFile::Options options;
    options.mode = 0600;
    options.followForeignLinks = true;
    options.reservation = room;
    return options;
}

} // namespace

bool ClaudeCredentialFile::reserve(qint64 bytes, QString* why)
{
    QString error;
    if (m_room.take(m_path, bytes, &error, writeOptions(nullptr)))
        return true;
    if (why)
        *why = AtomicFile::resolveLinks(m_path) + QStringLiteral(": ") + error;
    return false;
}

void ClaudeCredentialFile::release()
{
    m_room.release();
}

bool ClaudeCredentialFile::write(const QByteArray& document, QString* error)
{
    return AtomicFile::write(m_path, document, error, writeOptions(&m_room));
}
