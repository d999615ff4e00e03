#include "core/AtomicFile.h"
#include "QtPrinters.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Runs `body` while files may grow to `bytes` at most (writes beyond fail with EFBIG, not a signal).
void withFileSizeLimit(rlim_t bytes, const std::function<void()>& body)
{
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    body();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
}

} // namespace

TEST(AtomicFile, ReplacesOnlyRegularFilesAndLeavesNothingBehindWhenItCannot)
{
    QTemporaryDir dir(TestSupport::homePath() + QStringLiteral("/atomic-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("file"));
    const QString target = dir.filePath(QStringLiteral("target"));
    const auto entries = [&] {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    };
    struct Row
    {
        const char* name;
        std::function<void()> prepare;
        std::optional<mode_t> mode; // asked for
        bool ok;
        mode_t type;     // at the path itself afterwards
        mode_t fileMode; // permissions behind the path afterwards; 0: not checked
        const char* error;
    };
    const Row rows[] = {
        {"new file with a mode", [] {}, 0600, true, S_IFREG, 0600, ""},
        {"existing file keeps its mode",
         [&] {
             writeFile(path, "old");
             ::chmod(QFile::encodeName(path).constData(), 0640);
         },
         std::nullopt, true, S_IFREG, 0640, ""},
        {"symbolic link: the link stays, its target is replaced",
         [&] {
             writeFile(target, "old");
             ::chmod(QFile::encodeName(target).constData(), 0604);
             QFile::link(target, path);
         },
         std::nullopt, true, S_IFLNK, 0604, ""},
        {"FIFO", [&] { ::mkfifo(QFile::encodeName(path).constData(), 0644); }, std::nullopt, false, S_IFIFO,
         0, "is not a regular file"},
        {"folder", [&] { QDir().mkdir(path); }, 0600, false, S_IFDIR, 0, "is not a regular file"},
    };
    for (const Row& row : rows) {
        QFile::remove(target);
        QFile::remove(path);
        QDir().rmdir(path);
        row.prepare();
        QStringList expectedEntries = entries();
        if (row.ok && !expectedEntries.contains(QStringLiteral("file")))
            expectedEntries = QStringList{QStringLiteral("file")} + expectedEntries;

        QString error;
        EXPECT_EQ(AtomicFile::write(path, "new", &error, {row.mode}), row.ok) << row.name;
        EXPECT_TRUE(error.contains(QLatin1StringView(row.error))) << row.name << ": " << error.toStdString();
        struct stat atPath
        {};
        struct stat behind
        {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &atPath), 0) << row.name;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &behind), 0) << row.name;
        EXPECT_EQ(atPath.st_mode & S_IFMT, row.type) << row.name;
        if (row.fileMode != 0) {
            EXPECT_EQ(behind.st_mode & 07777, row.fileMode) << row.name;
        }
        if (row.ok) {
            EXPECT_EQ(readFile(path), "new") << row.name;
        }
        EXPECT_EQ(entries(), expectedEntries) << row.name; // no temporary file left
    }

    // A write that fails half-way (here: at the file size limit) leaves the old content and no temporary
    // file.
    QDir().rmdir(path);
    writeFile(path, "old");
    const QStringList before = entries();
    QString error;
    bool ok = true;
    withFileSizeLimit(1000, [&] { ok = AtomicFile::write(path, QByteArray(5000, 'x'), &error); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, QStringLiteral("File too large"));
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(entries(), before);
}
