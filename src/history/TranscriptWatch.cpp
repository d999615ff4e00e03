#include "history/TranscriptWatch.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <unistd.h>

#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace {

#ifdef __linux__
constexpr uint32_t folderEvents = IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                                  IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
#endif

} // namespace

TranscriptWatch::TranscriptWatch(QStringList codexRoots, QStringList claudeRoots, Limits limits)
    : m_codexRoots(std::move(codexRoots)), m_claudeRoots(std::move(claudeRoots)), m_limits(limits)
{
#ifdef __linux__
    if (m_limits.enabled)
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
}

TranscriptWatch::~TranscriptWatch()
{
    disable();
}

void TranscriptWatch::disable()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_folders.clear();
}

TranscriptFiles::FolderSeen TranscriptWatch::watcher(Provider provider)
{
    return [this, provider](const QByteArray& path, bool subagent, int depth) {
        watch(path, provider, subagent, depth);
    };
}

void TranscriptWatch::watch(const QByteArray& path, Provider provider, bool subagent, int depth)
{
#ifdef __linux__
    if (m_fd < 0)
        return;
    if (m_folders.size() >= static_cast<std::size_t>(m_limits.maxFolders)) {
        disable();
        return;
    }
    // A root may be reached through a link (~/.config/claude to ~/.claude), folders below it are not.
    const int wd =
        ::inotify_add_watch(m_fd, path.constData(), folderEvents | (depth > 0 ? IN_DONT_FOLLOW : 0));
    if (wd >= 0)
        m_folders.try_emplace(wd, Folder{path, provider, subagent, depth});
    else if (errno == ENOENT || errno == ENOTDIR)
        m_lost = true; // gone or replaced since it was opened
    else
        disable(); // the watch limit (ENOSPC) or the like: every refresh lists, as without a watch
#else
    Q_UNUSED(path);
    Q_UNUSED(provider);
    Q_UNUSED(subagent);
    Q_UNUSED(depth);
#endif
}

std::vector<TranscriptFiles::File> TranscriptWatch::listAll()
{
    std::unordered_map<int, Folder> previous;
    if (m_fd >= 0) {
        // What happened before this listing, the listing sees.
        QHash<QByteArray, Folder> ignored;
        std::vector<Folder> created;
        readEvents(ignored, created);
        previous = std::move(m_folders);
        m_folders.clear();
    }
    m_lost = false;
    m_links.clear();
    m_missingRoots.clear();
    for (const QString& root : m_codexRoots + m_claudeRoots)
        if (::access(QFile::encodeName(root).constData(), F_OK) != 0)
            m_missingRoots.append(root);

    auto files = TranscriptFiles::list(m_codexRoots, Provider::codex, watcher(Provider::codex));
    auto claude = TranscriptFiles::list(m_claudeRoots, Provider::claude, watcher(Provider::claude));
    files.insert(files.end(), std::make_move_iterator(claude.begin()), std::make_move_iterator(claude.end()));
    for (const TranscriptFiles::File& file : files)
        if (file.link)
            m_links.insert(file.path, Folder{file.path, file.provider, file.subagent, 0});
#ifdef __linux__
    if (m_fd >= 0)
        for (const auto& [wd, folder] : previous)
            if (!m_folders.contains(wd))
                ::inotify_rm_watch(m_fd, wd); // a folder no longer below a root
#endif
    return files;
}

void TranscriptWatch::readEvents(QHash<QByteArray, Folder>& reported, std::vector<Folder>& created)
{
#ifdef __linux__
    alignas(inotify_event) char buffer[64 * 1024];
    while (m_fd >= 0) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0 || errno != EAGAIN)
                m_lost = true;
            return;
        }
        for (const char* at = buffer; at < buffer + got;) {
            inotify_event event{};
            std::memcpy(&event, at, sizeof event);
            const char* name = at + sizeof event;
            at += sizeof event + event.len;
            if (m_lost)
                continue; // drained only: a listing follows
            if (event.mask & IN_Q_OVERFLOW) {
                m_lost = true;
                continue;
            }
            const auto found = m_folders.find(event.wd);
            if (found == m_folders.end())
                continue;
            const Folder& folder = found->second;
            if (event.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                // Below a root the parent folder reports it; a root gone or moved needs a listing.
                if (folder.depth == 0 || (event.mask & IN_UNMOUNT))
                    m_lost = true;
                if (event.mask & IN_IGNORED)
                    m_folders.erase(found);
                continue;
            }
            if (event.len == 0)
                continue;
            const QByteArray child = folder.path + '/' + QByteArray(name);
            if (event.mask & IN_ISDIR) {
                // A folder moved away or removed leaves entries that only a listing drops.
                if (event.mask & (IN_DELETE | IN_MOVED_FROM))
                    m_lost = true;
                else if ((event.mask & (IN_CREATE | IN_MOVED_TO)) && folder.depth < TranscriptFiles::maxDepth)
                    created.push_back({child, folder.provider,
                                       folder.subagent || std::strcmp(name, "subagents") == 0,
                                       folder.depth + 1});
                continue;
            }
            if (!child.endsWith(".jsonl"))
                continue;
            reported.insert(child, Folder{child, folder.provider, folder.subagent, folder.depth});
            if (static_cast<std::size_t>(reported.size()) > m_limits.maxChanges)
                m_lost = true;
        }
    }
#else
    Q_UNUSED(reported);
    Q_UNUSED(created);
#endif
}

std::optional<TranscriptWatch::Changes> TranscriptWatch::changes()
{
    if (m_fd < 0)
        return std::nullopt;
    for (const QString& root : std::as_const(m_missingRoots))
        if (::access(QFile::encodeName(root).constData(), F_OK) == 0)
            m_lost = true;
    QHash<QByteArray, Folder> reported;
    std::vector<Folder> created;
    readEvents(reported, created);
    if (m_lost || m_fd < 0)
        return std::nullopt;

    Changes changes;
    // A new folder may hold files and folders made before its watch was: walked after watching it.
    for (const Folder& folder : created) {
        TranscriptFiles::listFolder(folder.path, folder.provider, folder.subagent, folder.depth,
                                    changes.present, watcher(folder.provider));
        if (m_lost || m_fd < 0)
            return std::nullopt;
    }
    changes.stats = static_cast<int>(changes.present.size());
    for (const TranscriptFiles::File& file : changes.present) {
        reported.remove(file.path);
        if (file.link)
            m_links.insert(file.path, Folder{file.path, file.provider, file.subagent, 0});
    }
    for (auto it = m_links.cbegin(); it != m_links.cend(); ++it)
        reported.insert(it.key(), it.value());
    for (auto it = reported.cbegin(); it != reported.cend(); ++it) {
        ++changes.stats;
        if (auto file = TranscriptFiles::stat(it.key(), it->provider, it->subagent)) {
            if (file->link)
                m_links.insert(it.key(), it.value());
            else
                m_links.remove(it.key());
            changes.present.push_back(std::move(*file));
        } else {
            m_links.remove(it.key());
            changes.gone.push_back(it.key());
        }
    }
    return changes;
}
