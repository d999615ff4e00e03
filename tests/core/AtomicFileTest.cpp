#include "core/io/AtomicFile.h"
#include "QtPrinters.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <string_view>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

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
        bool followForeignLinks;
        bool ok;
        mode_t type;     // at the path itself afterwards
        mode_t fileMode; // permissions behind the path afterwards; 0: not checked
        const char* error;
    };
    const auto foreignLink = [&] {
        writeFile(target, "old");
        ::chmod(QFile::encodeName(target).constData(), 0604);
        QFile::link(target, path);
        ::lchown(QFile::encodeName(path).constData(), 65534, 65534);
    };
    const Row rows[] = {
        {"new file with a mode", [] {}, 0640, false, true, S_IFREG, 0640, ""},
        {"new file without one is private whatever the umask", [] {}, std::nullopt, false, true, S_IFREG,
         0600, ""},
        {"existing file keeps its mode",
         [&] {
             writeFile(path, "old");
             ::chmod(QFile::encodeName(path).constData(), 0640);
         },
         std::nullopt, false, true, S_IFREG, 0640, ""},
        {"symbolic link: the link stays, its target is replaced",
         [&] {
             writeFile(target, "old");
             ::chmod(QFile::encodeName(target).constData(), 0604);
             QFile::link(target, path);
         },
         std::nullopt, false, true, S_IFLNK, 0604, ""},
        // Another account's link in a shared folder would aim our write at any file of ours.
        {"another user's symbolic link is refused", foreignLink, std::nullopt, false, false, S_IFLNK, 0604,
         "belongs to another user"},
        {"another user's link is followed where asked", foreignLink, std::nullopt, true, true, S_IFLNK, 0604,
         ""},
        // Root writing into a file another account planted 0666 would hand it what was written.
        {"another user's file is replaced private",
         [&] {
             writeFile(path, "old");
             ::chmod(QFile::encodeName(path).constData(), 0666);
             ::chown(QFile::encodeName(path).constData(), 65534, 65534);
         },
         std::nullopt, false, true, S_IFREG, 0600, ""},
        {"FIFO", [&] { ::mkfifo(QFile::encodeName(path).constData(), 0644); }, std::nullopt, false, false,
         S_IFIFO, 0, "is not a regular file"},
        {"folder", [&] { QDir().mkdir(path); }, 0600, false, false, S_IFDIR, 0, "is not a regular file"},
    };
    const mode_t savedUmask = ::umask(022);
    bool skipped = false;
    for (const Row& row : rows) {
        // Only root can hand a link to another user.
        if (std::string_view(row.name).find("another user") != std::string_view::npos && ::geteuid() != 0) {
            skipped = true;
            continue;
        }
        QFile::remove(target);
        QFile::remove(path);
        QDir().rmdir(path);
        row.prepare();
        QStringList expectedEntries = entries();
        if (row.ok && !expectedEntries.contains(QStringLiteral("file")))
            expectedEntries = QStringList{QStringLiteral("file")} + expectedEntries;

        QString error;
        AtomicFile::Options options{row.mode};
        options.followForeignLinks = row.followForeignLinks;
        bool closeOnExec = false;
        const auto fill = [&](int fd) {
            closeOnExec = (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0;
            return ::write(fd, "new", 3) == 3;
        };
        EXPECT_EQ(AtomicFile::write(path, fill, &error, options), row.ok) << row.name;
        // A child process started meanwhile (Codex) must not inherit a handle on the temporary file.
        EXPECT_EQ(closeOnExec, row.ok) << row.name;
        EXPECT_TRUE(error.contains(QLatin1StringView(row.error))) << row.name << ": " << error.toStdString();
        struct stat atPath = {};
        struct stat behind = {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &atPath), 0) << row.name;
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &behind), 0) << row.name;
        EXPECT_EQ(atPath.st_mode & S_IFMT, row.type) << row.name;
        if (row.fileMode != 0) {
            EXPECT_EQ(behind.st_mode & 07777, row.fileMode) << row.name;
        }
        if (row.type == S_IFREG || row.type == S_IFLNK) {
            EXPECT_EQ(readFile(path), row.ok ? "new" : "old") << row.name;
        }
        EXPECT_EQ(entries(), expectedEntries) << row.name; // no temporary file left
    }
    ::umask(savedUmask);

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
    if (skipped)
        GTEST_SKIP() << "the rows with another user's symbolic link need root to hand the link over";
}
