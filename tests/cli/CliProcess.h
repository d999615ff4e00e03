#pragma once

#include "core/io/SettingsStore.h"
#include "core/model/UsageSnapshot.h"
#include "core/text/JsonLines.h"
#include "support/Reading.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <optional>

namespace CliTest {

// A throwaway home for one program run: HOME and XDG_DATA_HOME point into it.
class Home
{
public:
    QString path() const { return m_dir.path(); }
    QString dataFolder() const { return m_dir.path() + QStringLiteral("/data/Tallyvane"); }
    QString file(const QString& name) const { return dataFolder() + QLatin1Char('/') + name; }

    void writeLog(const QList<UsageSnapshot>& snapshots) const
    {
        QDir().mkpath(dataFolder());
        QByteArray lines;
        for (const UsageSnapshot& s : snapshots)
            lines += JsonLines::encodeLine(s.toJson()) + '\n';
        TestSupport::appendFile(file(QStringLiteral("snapshots.ndjson")), lines);
    }
    void writeSettings(const AppSettings& settings) const
    {
        TestSupport::writeFile(file(QStringLiteral("settings.json")), SettingsStore::encode(settings));
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path() + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
        return env;
    }

    // Every path below the home with its size and modification time: a fingerprint of what is on disk.
    QStringList listing() const
    {
        QStringList entries;
        const auto walk = [&](const auto& self, const QString& folder) -> void {
            for (const QFileInfo& info : QDir(folder).entryInfoList(
                     QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
                entries.append(QStringLiteral("%1 %2 %3")
                                   .arg(info.filePath())
                                   .arg(info.size())
                                   .arg(info.lastModified().toMSecsSinceEpoch()));
                if (info.isDir())
                    self(self, info.filePath());
            }
        };
        walk(walk, path());
        return entries;
    }

private:
    QTemporaryDir m_dir;
};

using TestSupport::ProcessResult;
using TestSupport::runProgram;

inline QString binary()
{
    return QStringLiteral(TALLYVANE_BINARY_DIR "/tallyvane");
}

inline ProcessResult run(const Home& home, const QStringList& arguments, int timeoutMs = 15'000,
                         const QString& workingDirectory = {})
{
    return runProgram(binary(), arguments, home.environment(), timeoutMs,
                      workingDirectory.isEmpty() ? home.path() : workingDirectory);
}

// Waits for the next complete line of standard output; nothing once the process ends or time runs out.
inline std::optional<QString> nextLine(QProcess& process, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
            return std::nullopt;
        process.waitForReadyRead(100);
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

} // namespace CliTest
