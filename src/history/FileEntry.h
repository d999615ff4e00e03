#pragma once

#include "core/model/Enums.h"
#include "history/TranscriptLine.h"

#include <QByteArray>

#include <array>
#include <limits>
#include <map>
#include <optional>
#include <vector>

// Tokens and spend of one local calendar day in one transcript.
struct DayTotals
{
    qint64 tokens = 0;
    qint64 costNanos = 0;
    std::array<qint64, 24> hours{}; // tokens per local hour of that day
    bool operator==(const DayTotals&) const = default;
};

// Where the next read of a transcript goes on, so that a file that grew costs only what it gained.
struct ResumePoint
{
    qint64 offset = 0; // bytes read, up to and including the last line feed
    quint64 inode = 0;
    quint64 anchor = 0;             // hash of the bytes just before `offset`: a rewritten file reads anew
    std::vector<quint64> claudeIds; // hashes of the message.id + requestId pairs already counted
    std::optional<TranscriptLine::CodexCounts> codexTotal; // the last token_count line's running totals
    QByteArray claudeLines; // per counted Claude line: varint time step (ms, zigzag) and tokens
    qint64 lastLineMs = 0;  // the time the next step in claudeLines starts from
    qint64 newestLineMs = std::numeric_limits<qint64>::min(); // the latest time in claudeLines
};

// The aggregate of one transcript file, keyed in the cache by its absolute path.
struct FileEntry
{
    qint64 size = 0;
    double mtime = 0; // seconds since 1970 UTC, with the fraction
    Provider provider = Provider::claude;
    std::map<qint64, DayTotals> days; // by local day number (days since 1970-01-01)
    // Absent for an entry loaded without one: a change then reads the file from its start.
    std::optional<ResumePoint> resume;
    quint64 listedInScan = 0; // which scan last listed the file; not stored
};
