#pragma once

#include "core/model/Enums.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// Where the two assistants keep their transcripts, and the listing of them.
namespace TranscriptFiles {

// "projects" of each Claude config folder: $CLAUDE_CONFIG_DIR (the whole value one folder) when it is set to
// an absolute path, else ~/.config/claude and ~/.claude.
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
    bool link = false;     // a symbolic link: its target may change without its folder hearing of it
};

// Called for each folder a listing walks (the root at depth 0), before its files.
using FolderSeen = std::function<void(const QByteArray& path, bool subagent, int depth)>;
constexpr int maxDepth = 64; // folders deeper below a root are not walked

// Every regular file named *.jsonl below the roots, recursively (hidden folders too; symbolic links to
// files are followed, to folders not). Missing or unreadable folders give nothing. Roots in order, each
// root's files sorted by path.
std::vector<File> list(const QStringList& roots, Provider provider, const FolderSeen& seen = {});
// The same below one folder at `depth` under its root, spelled as `path`, unsorted.
void listFolder(const QByteArray& path, Provider provider, bool subagent, int depth, std::vector<File>& out,
                const FolderSeen& seen = {});
// The one file at `path` as a listing would give it; nothing when it is not (or no longer) a transcript.
std::optional<File> stat(const QByteArray& path, Provider provider, bool subagent);

} // namespace TranscriptFiles
