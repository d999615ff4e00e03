#include "core/io/Shell.h"

#include "core/io/AppLogger.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QVersionNumber>

#include <algorithm>
#include <cmath>

namespace {

QString decodeLossy(const QByteArray& bytes)
{
    // QString::fromUtf8 already substitutes U+FFFD for every invalid sequence.
    return QString::fromUtf8(bytes);
}

QString newestNvmBin(const QString& home)
{
    const QDir versions(home + QStringLiteral("/.nvm/versions/node"));
    QString best;
    QVersionNumber bestVersion;
    const QStringList entries = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        QStringView text(entry);
        if (text.startsWith(QLatin1Char('v')))
            text = text.mid(1);
        const QVersionNumber version = QVersionNumber::fromString(text);
        if (best.isEmpty() || QVersionNumber::compare(version, bestVersion) > 0) {
            best = entry;
            bestVersion = version;
        }
    }
    return best.isEmpty() ? QString() : versions.filePath(best) + QStringLiteral("/bin");
}

// Only an absolute path names one program whatever the working folder: an empty or relative PATH entry would
// otherwise run a file planted there.
bool isAbsoluteExecutable(const QString& path)
{
    const QFileInfo info(path);
    return path.startsWith(QLatin1Char('/')) && info.isFile() && info.isExecutable();
}

} // namespace

namespace Shell {

QStringList defaultSearchFolders()
{
    const QString home = QDir::homePath();
    QStringList folders{QStringLiteral("/opt/homebrew/bin"),  QStringLiteral("/usr/local/bin"),
                        QStringLiteral("/usr/bin"),           QStringLiteral("/bin"),
                        home + QStringLiteral("/.local/bin"), home + QStringLiteral("/.npm-global/bin")};
    const QString nvm = newestNvmBin(home);
    if (!nvm.isEmpty())
        folders.append(nvm);
    return folders;
}

QString which(const QString& name, const QStringList& folders, const QString& fallback)
{
    for (const QString& folder : folders) {
        const QString candidate = QDir(folder).filePath(name);
        if (isAbsoluteExecutable(candidate))
            return candidate;
    }
    if (fallback.isEmpty())
        return {};
    if (const auto result = run(fallback, {name})) {
        const QString path = result->stdout.trimmed();
        if (isAbsoluteExecutable(path))
            return path;
    }
    return {};
}

std::optional<Result> run(const QString& executable, const QStringList& arguments,
                          std::optional<double> timeoutSeconds)
{
    QProcess process;
    process.setProgram(executable);
    process.setArguments(arguments);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(-1)) {
        AppLogger::shared().error(QStringLiteral("Shell.run failed: ") + process.errorString());
        return std::nullopt;
    }
    // waitForFinished keeps draining both pipes, so a chatty command cannot stall on a full pipe.
    int waitMs = -1;
    if (timeoutSeconds)
        waitMs = static_cast<int>(std::clamp(std::ceil(*timeoutSeconds * 1000.0), 0.0, 2.0e9));
    if (!process.waitForFinished(waitMs) && process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(-1);
        }
    }
    Result result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.stdout = decodeLossy(process.readAllStandardOutput());
    result.stderr = decodeLossy(process.readAllStandardError());
    return result;
}

} // namespace Shell
