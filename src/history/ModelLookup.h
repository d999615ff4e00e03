#pragma once

#include "history/TranscriptFiles.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

struct ModelSighting
{
    QString id;
    QDateTime at;
    bool operator==(const ModelSighting&) const = default;
};

// Which Claude model is in use: the newest transcript line that names one.
namespace ModelLookup {

// Reads a transcript backwards in 256 KiB blocks, at most its last 4 MiB, for the last line whose
// "message"."model" is a non-empty string other than "<synthetic>" and whose "timestamp" parses.
std::optional<ModelSighting> tailModel(const QByteArray& path);

// tailModel over the three most recently modified files, leaving out subagent transcripts; the latest
// answer wins.
std::optional<ModelSighting> latest(std::vector<TranscriptFiles::File> files);

} // namespace ModelLookup
