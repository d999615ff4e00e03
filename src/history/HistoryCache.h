#pragma once

#include "history/FileEntry.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <functional>
#include <unordered_map>

struct PathHash
{
    std::size_t operator()(const QByteArray& path) const noexcept { return qHash(path); }
};

// The scan's state as kept in "usage-history-cache.json": the zone its days are local to and one entry per
// transcript file, keyed by absolute path. An entry holds what the history shows (tokens per day and hour,
// spend per day) and what lets the next scan read only what a file gained. Stored in a versioned binary
// form: most of it is id hashes and the counted-line log, which text would only inflate and slow down.
struct HistoryCache
{
    QByteArray zone;
    // Keyed by the path's bytes as the file system has them.
    std::unordered_map<QByteArray, FileEntry, PathHash> files;

    // Hands the encoded cache to `sink` in pieces, as long as it returns true; false when it did not.
    using Sink = std::function<bool(QByteArrayView)>;
    bool encode(const Sink& sink) const;
    QByteArray encode() const;
    // Bytes that are not a whole cache of this format version (an older cache, a truncated, torn or foreign
    // file, caught by the trailing checksum) give an empty cache, so that the next scan rebuilds it.
    static HistoryCache decode(QByteArrayView bytes);

    // Reads the file (nothing when it is missing, not a regular file or implausibly large).
    static HistoryCache load(const QString& path);
};
