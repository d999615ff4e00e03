#pragma once

#include <QString>
#include <QStringView>

// Text that came from outside (a server's answer, Claude Code, a log line) made safe to print on a terminal.
namespace TerminalText {

// C0 and C1 controls, DEL, and the bidirectional marks, embeddings, overrides and isolates, which can make
// a line read otherwise than it is stored.
bool isControl(char16_t c);

// Without escape sequences (CSI, OSC and the other string and two-byte forms, written with ESC or as a
// single 8-bit code) and without the controls above; with `keepLines`, line feeds and tabs
// stay.
QString clean(QStringView text, bool keepLines = false);

// A name from outside (a model, plan, limit or effort name): clean, and cut to `maxName` characters so that
// no name can grow a log line past what the decoders take, nor a face past its room.
inline constexpr qsizetype maxName = 256;
QString name(QStringView text);

} // namespace TerminalText
