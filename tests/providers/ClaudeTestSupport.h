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

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace ClaudeTestSupport {

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonObject readObject(const QString& path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}

inline void writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

// The permission bits, as in chmod.
inline int modeOf(const QString& path)
{
    struct stat info
    {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? static_cast<int>(info.st_mode & 07777)
                                                                   : -1;
}

inline constexpr QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;

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

// Sets environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->second)
                qputenv(it->first.constData(), *it->second);
            else
                qunsetenv(it->first.constData());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const QByteArray& name, const QString& value)
    {
        m_saved.append({name, qEnvironmentVariableIsSet(name.constData())
                                  ? std::optional(qgetenv(name.constData()))
                                  : std::nullopt});
        qputenv(name.constData(), value.toUtf8());
    }

private:
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// Makes a folder impossible to write into for as long as it lives: an immutable folder as root (whom
// permission bits do not stop), permission bits otherwise. `engaged()` is false where neither works.
class UnwritableFolder
{
public:
    explicit UnwritableFolder(QString path) : m_path(std::move(path))
    {
        if (::geteuid() == 0) {
            m_immutable = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_path}) == 0;
            m_engaged = m_immutable;
        } else {
            m_engaged = QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ExeOwner);
        }
    }
    ~UnwritableFolder() { release(); }
    UnwritableFolder(const UnwritableFolder&) = delete;
    UnwritableFolder& operator=(const UnwritableFolder&) = delete;

    bool engaged() const { return m_engaged; }
    void release()
    {
        if (!m_engaged)
            return;
        if (m_immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_path});
        else
            QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_engaged = false;
    }

private:
    QString m_path;
    bool m_engaged = false;
    bool m_immutable = false;
};

} // namespace ClaudeTestSupport
