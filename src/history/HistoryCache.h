#pragma once

#include "history/FileEntry.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <unordered_map>

struct PathHash
{
    std::size_t operator()(const QByteArray& path) const noexcept { return qHash(path); }
};

// The scan's state as kept in "usage-history-cache.json": the zone its days are local to and one entry per
// transcript file, keyed by absolute path. An entry holds what the history shows (tokens per day and hour,
// spend per day) and what lets the next scan read only what a file gained.
struct HistoryCache
{
    QByteArray zone;
    // Keyed by the path's bytes as the file system has them.
    std::unordered_map<QByteArray, FileEntry, PathHash> files;

    // Compact JSON. Paths that are not valid UTF-8 cannot be written into JSON and are left out.
    QByteArray encode() const;
    // A document that is not a cache of this format, or not JSON at all, gives an empty cache.
    static HistoryCache decode(QByteArrayView json);

    // Reads the file (nothing when it is missing, not a regular file or implausibly large).
    static HistoryCache load(const QString& path);
};
