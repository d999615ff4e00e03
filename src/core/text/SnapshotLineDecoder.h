#pragma once

#include "core/model/SnapshotLog.h"
#include "core/model/UsageSnapshot.h"

#include <QByteArrayView>
#include <QList>

#include <optional>

// Decodes snapshot-log lines an order of magnitude faster than QJsonDocument for the lines this program
// writes itself, with results identical to JsonLines::decodeLines<UsageSnapshot>.
namespace SnapshotLineDecoder {

// The fast path alone. A snapshot when the line is a flat object of plain ASCII strings, numbers, booleans
// and nulls that decodes cleanly; nothing when the line is anything else (which does not mean the line is
// invalid: the generic decoder decides those).
std::optional<UsageSnapshot> decodeFast(QByteArrayView line);

// One trimmed line: the fast path, else the generic decoder.
std::optional<UsageSnapshot> decode(QByteArrayView line);

// Same contract as JsonLines::decodeLines<UsageSnapshot>.
QList<UsageSnapshot> decodeLines(QByteArrayView text);
// The same, appended to a log; returns how many were appended.
qsizetype appendDecodedLines(QByteArrayView text, SnapshotLog& log);

} // namespace SnapshotLineDecoder
