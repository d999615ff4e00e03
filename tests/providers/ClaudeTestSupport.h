#pragma once

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

#include "support/TestSupport.h"

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace ClaudeTestSupport {

using TestSupport::readFile;
using TestSupport::writeFile;

// Claude Code's own mode for its credential file.
constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;

inline QJsonObject readObject(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

// The permission bits, as chmod takes them.
inline int modeOf(const QString& path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// A credential document as Claude Code writes it, with members of its own at both levels.
inline QByteArray credentialDocument(const QString& access, const QString& refresh,
                                     const QDateTime& expiresAt)
{
    const QJsonObject oauth{{"accessToken", access},
                            {"refreshToken", refresh},
                            {"expiresAt", expiresAt.toMSecsSinceEpoch()},
                            {"scopes", QJsonArray{"user:inference", "user:profile"}},
                            {"subscriptionType", "max"}};
    return QJsonDocument(QJsonObject{{"claudeAiOauth", oauth}, {"mcpOAuth", QJsonObject{{"server", "kept"}}}})
        .toJson(QJsonDocument::Compact);
}

// Environment variables for one test; the old values come back afterwards.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it)
            it->second ? qputenv(it->first.constData(), *it->second) : qunsetenv(it->first.constData());
    }
    void set(const QByteArray& name, const QString& value)
    {
        const bool had = qEnvironmentVariableIsSet(name.constData());
        m_saved.append({name, had ? std::optional(qgetenv(name.constData())) : std::nullopt});
        qputenv(name.constData(), value.toUtf8());
    }

private:
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// A folder nothing can be written into while this lives: immutable as root (whom permission bits do not
// stop), read-only otherwise. `engaged()` is false where neither works.
class UnwritableFolder
{
public:
    explicit UnwritableFolder(QString path) : m_path(std::move(path))
    {
        m_engaged = ::geteuid() == 0 ? QProcess::execute("chattr", {"+i", m_path}) == 0
                                     : ::chmod(QFile::encodeName(m_path).constData(), 0500) == 0;
    }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;
    ~UnwritableFolder() { release(); }

    bool engaged() const { return m_engaged; }
    void release()
    {
        if (m_engaged && ::geteuid() == 0)
            QProcess::execute("chattr", {"-i", m_path});
        else if (m_engaged)
            ::chmod(QFile::encodeName(m_path).constData(), 0700);
        m_engaged = false;
    }

private:
    QString m_path;
    bool m_engaged = false;
};

#define SKIP_UNLESS_ENGAGED(folder)                                                                          \
    if (!(folder).engaged())                                                                                 \
    GTEST_SKIP() << "this machine cannot make a folder unwritable (as root that needs chattr and a file "    \
                    "system with the immutable flag)"

} // namespace ClaudeTestSupport
