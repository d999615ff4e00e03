#pragma once

#include "history/FileEntry.h"
#include "history/IdSet.h"
#include "history/LineBuffer.h"
#include "history/Pricing.h"
#include "history/TranscriptLineDecoder.h"
#include "history/ZoneCalendar.h"

#include <QByteArrayView>
#include <QString>

#include <string>

// Brings one FileEntry up to date with its transcript: reads from where the last read stopped and applies
// the line rules of its provider. One scanner per thread; it keeps its buffers from file to file.
//
// Claude: a line counts when it has a timestamp, a usage object and a positive sum of its four counts,
// unless a line with the same message.id and requestId was counted before in the same file (lines lacking
// either id always count). Codex: a "token_count" line counts its last_token_usage.total_tokens, unless
// its total_token_usage equals that of the previous such line in the file. Days and hours are local ones
// of each line's own time, in the scanner's zone.
class TranscriptScanner
{
public:
    struct Limits
    {
        std::size_t chunk = 32 * 1024; // so the buffer is still in the first-level cache when it is parsed
        std::size_t maxLine = 64u << 20;
    };

    TranscriptScanner(const QTimeZone& zone, Limits limits);
    TranscriptScanner(const QTimeZone& zone) : TranscriptScanner(zone, Limits{}) {}

    // Reads the file at `path` up to `size` bytes into `entry`, resuming where entry.resume says when the
    // file is the same one that was read before, else from its start (the entry's totals start over).
    // Returns the bytes read, or -1 when the file cannot be opened as a regular file.
    qint64 scanFile(const QString& path, qint64 size, FileEntry& entry);

    // The same on bytes in memory handed over in pieces of `pieceSize` (tests and fuzzing): `data` is the
    // file from `entry`'s resume offset on.
    void scanBytes(QByteArrayView data, std::size_t pieceSize, FileEntry& entry);

    // Hash of the bytes in front of a resume offset.
    static quint64 anchorHash(QByteArrayView bytes);
    static constexpr qint64 anchorLength = 256;

    ZoneCalendar& calendar() { return m_calendar; }

private:
    template <typename Read> void run(FileEntry& entry, Read&& read);
    void line(FileEntry& entry, std::string_view text);
    void claudeLine(FileEntry& entry, std::string_view text);
    void codexLine(FileEntry& entry, std::string_view text);
    void finish(FileEntry& entry);

    ZoneCalendar m_calendar;
    TranscriptLineDecoder m_decoder;
    LineBuffer m_lines;
    IdSet m_ids;             // the file's counted reply ids, those from before the resume point included
    std::string m_rateModel; // lines of one file nearly always name one model
    const Pricing::NanoRate* m_rate = nullptr;
};

// The per-line record of counted Claude lines kept in ResumePoint::claudeLines.
namespace ClaudeLineLog {
void append(ResumePoint& resume, qint64 atMs, qint64 tokens);
// Sum of the tokens of lines stamped at or after `sinceMs`.
qint64 tokensSince(const ResumePoint& resume, qint64 sinceMs);
// Every (time in ms, tokens) pair, in the order counted.
std::vector<std::pair<qint64, qint64>> entries(const QByteArray& log);
} // namespace ClaudeLineLog
