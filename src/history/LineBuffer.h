#pragma once

#include <QtGlobal>

#include <cstring>
#include <string_view>
#include <vector>

// Splits a byte stream into lines at line feeds only (never at a carriage return or a Unicode separator,
// which may sit inside a JSON string), reading it in chunks. A carriage return before the line feed is
// dropped, empty lines are skipped, and a line longer than `maxLine` bytes is skipped whole. Bytes after
// the last line feed are not a line yet: they are left for a later read, and `run` reports how far the
// complete lines reach.
class LineBuffer
{
public:
    // Lines are handed over with at least `padding` readable bytes after them.
    LineBuffer(std::size_t chunk, std::size_t maxLine, std::size_t padding)
        : m_chunk(chunk), m_maxLine(maxLine), m_padding(padding)
    {}

    // `read(into, room)` fills up to `room` bytes and returns how many (0 at the end, negative on error);
    // `visit(line)` gets each line. Returns the bytes consumed through the last line feed.
    template <typename Read, typename Visit> qint64 run(Read&& read, Visit&& visit)
    {
        qint64 base = 0; // stream offset of m_bytes[0]
        qint64 consumed = 0;
        std::size_t have = 0;
        bool skipping = false; // inside a line already known to be too long
        for (;;) {
            if (m_bytes.size() < have + m_chunk + m_padding)
                m_bytes.resize(have + m_chunk + m_padding);
            char* bytes = m_bytes.data();
            const qint64 got = read(bytes + have, m_chunk);
            if (got <= 0)
                break;
            const std::size_t end = have + static_cast<std::size_t>(got);
            std::size_t start = 0;
            std::size_t from = have;
            while (const void* found = std::memchr(bytes + from, '\n', end - from)) {
                const std::size_t lineEnd = static_cast<std::size_t>(static_cast<const char*>(found) - bytes);
                std::size_t length = lineEnd - start;
                if (!skipping && length <= m_maxLine) {
                    if (length > 0 && bytes[lineEnd - 1] == '\r')
                        --length;
                    if (length > 0)
                        visit(std::string_view(bytes + start, length));
                }
                skipping = false;
                start = lineEnd + 1;
                from = start;
                consumed = base + static_cast<qint64>(start);
            }
            const std::size_t tail = end - start;
            if (skipping || tail > m_maxLine) {
                skipping = true;
                base += static_cast<qint64>(end);
                have = 0;
                continue;
            }
            if (start > 0) // else the chunk only lengthened a line that began at the buffer's start
                std::memmove(bytes, bytes + start, tail);
            base += static_cast<qint64>(start);
            have = tail;
        }
        // A buffer grown for one long line is not kept for the next file.
        if (m_bytes.size() > 4 * (m_chunk + m_padding))
            std::vector<char>().swap(m_bytes);
        return consumed;
    }

private:
    std::size_t m_chunk;
    std::size_t m_maxLine;
    std::size_t m_padding;
    std::vector<char> m_bytes;
};
