#include "core/text/TerminalText.h"

#include <algorithm>

namespace {

constexpr char16_t escape = 0x1b;
constexpr char16_t bell = 0x07;
constexpr char16_t csi8 = 0x9b;
constexpr char16_t st8 = 0x9c;

// The 8-bit introducers of a control string (DCS, SOS, OSC, PM, APC) and their 7-bit second characters.
bool opensString8(char16_t c)
{
    return c == 0x90 || c == 0x98 || c == 0x9d || c == 0x9e || c == 0x9f;
}
bool opensString7(char16_t c)
{
    return c == u'P' || c == u'X' || c == u']' || c == u'^' || c == u'_';
}

// Index after a CSI's parameters, intermediates and final character, starting after its introducer.
qsizetype skipCsi(QStringView text, qsizetype i)
{
    while (i < text.size() && text[i].unicode() >= 0x20 && text[i].unicode() <= 0x3f)
        ++i;
    return i < text.size() && text[i].unicode() >= 0x40 && text[i].unicode() <= 0x7e ? i + 1 : i;
}

// Index after a control string's terminator (BEL, ST or ESC \), or the end of the text.
qsizetype skipString(QStringView text, qsizetype i)
{
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == bell || c == st8)
            return i + 1;
        if (c == escape)
            return i + 1 < text.size() && text[i + 1] == u'\\' ? i + 2 : i + 1;
    }
    return i;
}

} // namespace

namespace TerminalText {

bool isControl(char16_t c)
{
    const bool bidi = c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e) ||
                      (c >= 0x2066 && c <= 0x2069);
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f) || bidi;
}

QString clean(QStringView text, bool keepLines)
{
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const char16_t c = text[i].unicode();
        if (c == escape) {
            const char16_t next = i + 1 < text.size() ? text[i + 1].unicode() : 0;
            if (next == u'[')
                i = skipCsi(text, i + 2);
            else if (opensString7(next))
                i = skipString(text, i + 2);
            else if (next >= 0x20 && next <= 0x7e)
                i += 2; // a two-character sequence such as ESC c
            else
                i += 1;
        } else if (c == csi8) {
            i = skipCsi(text, i + 1);
        } else if (opensString8(c)) {
            i = skipString(text, i + 1);
        } else {
            if (!isControl(c) || (keepLines && (c == u'\n' || c == u'\t')))
                out += text[i];
            ++i;
        }
    }
    return out;
}

QString name(QStringView text)
{
    QString out = clean(text.first(std::min(text.size(), maxName * 4)));
    if (out.size() > maxName)
        out.truncate(out[maxName - 1].isHighSurrogate() ? maxName - 1 : maxName);
    return out;
}

} // namespace TerminalText
