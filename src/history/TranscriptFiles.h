#pragma once

#include "core/Enums.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Where the two assistants keep their transcripts, and the listing of them.
namespace TranscriptFiles {

// "projects" of each Claude config folder: those in $CLAUDE_CONFIG_DIR (comma-separated) when it is set,
// else ~/.config/claude and ~/.claude.
QStringList claudeRoots();
// "sessions" then "archived_sessions" of $CODEX_HOME, else of ~/.codex.
QStringList codexRoots();

struct File
{
    QByteArray path; // as the file system spells it
    Provider provider = Provider::claude;
    qint64 size = 0;
    double mtime = 0;      // seconds since 1970 UTC, with the fraction
    bool subagent = false; // below a "subagents" folder
};

// Every regular file named *.jsonl below the roots, recursively (hidden folders too; symbolic links to
// files are followed, to folders not). Missing or unreadable folders give nothing. Roots in order, each
// root's files sorted by path.
std::vector<File> list(const QStringList& roots, Provider provider);

} // namespace TranscriptFiles
