#pragma once

#include "history/TranscriptFiles.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>

#include <optional>
#include <unordered_map>
#include <vector>

// Knows which transcripts changed since it was last asked, so that a refresh stats those few instead of
// listing every file. On Linux it watches each folder a listing walks with inotify. Where it cannot tell
// (another system, the user's watch limit reached, events lost to a queue overflow, a folder moved or
// removed, a root appearing) it answers "list everything", which is always right.
class TranscriptWatch
{
public:
    struct Limits
    {
        bool enabled = true;
        int maxFolders = 100000; // more folders are listed instead of watched
        // More changed paths at once are listed instead: cheaper than that many stats.
        std::size_t maxChanges = 4096;
    };

    struct Changes
    {
        std::vector<TranscriptFiles::File> present; // reported transcripts, as a listing gives them now
        std::vector<QByteArray> gone;               // reported paths that are no transcript any more
        int stats = 0;                              // paths stat-ed to find out
    };

    TranscriptWatch(QStringList codexRoots, QStringList claudeRoots, Limits limits);
    ~TranscriptWatch();
    TranscriptWatch(const TranscriptWatch&) = delete;
    TranscriptWatch& operator=(const TranscriptWatch&) = delete;

    // Every transcript below the Codex roots, then below the Claude ones (as TranscriptFiles::list gives
    // them). Watches every folder it walks; what was reported before it is forgotten.
    std::vector<TranscriptFiles::File> listAll();
    // What changed since the last listAll() or changes(); nothing when only a listing can tell.
    std::optional<Changes> changes();
    // Whether changes() can answer at all (set up, and no limit was reached).
    bool watching() const { return m_fd >= 0; }

private:
    struct Folder
    {
        QByteArray path;
        Provider provider = Provider::claude;
        bool subagent = false;
        int depth = 0;
    };
    TranscriptFiles::FolderSeen watcher(Provider provider);
    void watch(const QByteArray& path, Provider provider, bool subagent, int depth);
    void readEvents(QHash<QByteArray, Folder>& reported, std::vector<Folder>& created);
    void disable();

    QStringList m_codexRoots;
    QStringList m_claudeRoots;
    Limits m_limits;
    int m_fd = -1;
    bool m_lost = true; // something happened that only a listing can tell
    std::unordered_map<int, Folder> m_folders;
    QStringList m_missingRoots;
    QHash<QByteArray, Folder> m_links; // linked transcripts: their targets change without an event here
};
