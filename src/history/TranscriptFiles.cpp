#include "history/TranscriptFiles.h"

#include "core/io/CodexHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool endsWith(const char* name, std::size_t length, const char* suffix, std::size_t suffixLength)
{
    return length >= suffixLength && std::memcmp(name + length - suffixLength, suffix, suffixLength) == 0;
}

double seconds(const struct timespec& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// Walks with openat/fstatat: a thousand files take a few milliseconds, mostly the kernel's stat.
void walk(int dirFd, QByteArray& path, bool subagent, Provider provider, int depth,
          std::vector<TranscriptFiles::File>& out, const TranscriptFiles::FolderSeen& seen)
{
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    if (seen)
        seen(path, subagent, depth);
    while (const dirent* item = ::readdir(dir)) {
        const char* name = item->d_name;
        const std::size_t length = std::strlen(name);
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const qsizetype mark = path.size();
        path.append('/').append(name, static_cast<qsizetype>(length));
        unsigned char type = item->d_type;
        if (type == DT_DIR || type == DT_UNKNOWN) {
            struct stat info = {};
            if (type == DT_UNKNOWN && ::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0)
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : DT_REG;
            if (type == DT_DIR && depth < TranscriptFiles::maxDepth) {
                const int child =
                    ::openat(::dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0)
                    walk(child, path, subagent || std::strcmp(name, "subagents") == 0, provider, depth + 1,
                         out, seen);
                path.truncate(mark);
                continue;
            }
        }
        if ((type == DT_REG || type == DT_LNK || type == DT_UNKNOWN) && endsWith(name, length, ".jsonl", 6)) {
            struct stat info = {};
            if (::fstatat(::dirfd(dir), name, &info, 0) == 0 && S_ISREG(info.st_mode)) {
                out.push_back({path, provider, static_cast<qint64>(info.st_size), seconds(info.st_mtim),
                               subagent, type == DT_LNK});
            }
        }
        path.truncate(mark);
    }
    ::closedir(dir);
}

QString home()
{
    return QDir::homePath();
}

} // namespace

namespace TranscriptFiles {

QStringList claudeRoots()
{
    QStringList folders;
    // One folder, as Claude Code itself and the credential and bridge paths read it: a comma is part of it.
    const QString configured = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    if (QDir::isAbsolutePath(configured)) // a relative one is ignored, as by ClaudePaths
        folders = {QDir::cleanPath(configured)};
    else
        folders = {home() + QStringLiteral("/.config/claude"), home() + QStringLiteral("/.claude")};
    QStringList roots;
    for (const QString& folder : std::as_const(folders))
        roots.append(folder + QStringLiteral("/projects"));
    return roots;
}

QStringList codexRoots()
{
    return {CodexHome::path() + QStringLiteral("/sessions"),
            CodexHome::path() + QStringLiteral("/archived_sessions")};
}

std::vector<File> list(const QStringList& roots, Provider provider, const FolderSeen& seen)
{
    std::vector<File> files;
    QStringList visited; // ~/.config/claude may be a link to ~/.claude: its files count once
    for (const QString& root : roots) {
        const QString canonical = QFileInfo(root).canonicalFilePath();
        if (canonical.isEmpty() || visited.contains(canonical))
            continue;
        visited.append(canonical);
        QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(root).absolutePath()));
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const std::size_t first = files.size();
        walk(fd, path, false, provider, 0, files, seen);
        std::sort(files.begin() + static_cast<std::ptrdiff_t>(first), files.end(),
                  [](const File& a, const File& b) { return a.path < b.path; });
    }
    return files;
}

void listFolder(const QByteArray& path, Provider provider, bool subagent, int depth, std::vector<File>& out,
                const FolderSeen& seen)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    QByteArray spelled = path;
    walk(fd, spelled, subagent, provider, depth, out, seen);
}

std::optional<File> stat(const QByteArray& path, Provider provider, bool subagent)
{
    if (!path.endsWith(".jsonl"))
        return std::nullopt;
    struct stat info = {};
    if (::lstat(path.constData(), &info) != 0)
        return std::nullopt;
    const bool link = S_ISLNK(info.st_mode);
    if ((link && ::stat(path.constData(), &info) != 0) || !S_ISREG(info.st_mode))
        return std::nullopt;
    return File{path, provider, static_cast<qint64>(info.st_size), seconds(info.st_mtim), subagent, link};
}

} // namespace TranscriptFiles
