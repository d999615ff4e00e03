#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QThread>

#include <functional>
#include <optional>
#include <ostream>

// Readable gtest failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const std::optional<QString>& text, std::ostream* out)
{
    if (text)
        PrintTo(*text, out);
    else
        *out << "(absent)";
}

namespace TestSupport {

// The throwaway home every test process runs in; HOME and XDG_* point below it.
QString homePath();

// Spins the event loop until the predicate holds or the timeout passes; returns the predicate's last value.
inline bool waitFor(const std::function<bool()>& predicate, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file, making its folder first, with the given permissions if any; false when it cannot be
// written.
inline bool writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    const bool written =
        file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    file.close();
    return written && (permissions == QFile::Permissions() || file.setPermissions(permissions));
}

struct ProcessResult
{
    int exitCode = -1; // -1 also when it crashed or did not end in time
    QString out;
    QString err;
};

// Runs a program to its end, killed after the timeout; the environment and folder are this process's unless
// given.
inline ProcessResult runProgram(const QString& program, const QStringList& arguments,
                                const QProcessEnvironment& env = {}, int timeoutMs = 15'000,
                                const QString& workingDirectory = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    ProcessResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("(timed out)");
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Adds to the end of the file, making it first if need be; false when it cannot be written.
inline bool appendFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(bytes) == bytes.size();
}

// Sets the file's modification time, as an older or newer write would have left it.
inline bool setModified(const QString& path, const QDateTime& when)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace TestSupport
