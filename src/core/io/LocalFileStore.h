#pragma once

#include <QString>

#include <optional>

#include <sys/types.h>

// The application's private data folder; every file the application owns lives there. The folder and its
// sub-folders are 0700 and the files in them 0600, so that no other account on the machine reads them.
namespace LocalFileStore {

// Permission bits of the folders and files the application keeps.
constexpr unsigned privateFolderMode = 0700;
constexpr unsigned privateFileMode = 0600;

// $XDG_DATA_HOME/Tallyvane (usually ~/.local/share/Tallyvane; a relative XDG_DATA_HOME is ignored); computed
// on every call.
QString baseDirectory();
// Creates the data folder, its "logs" sub-folder and an empty "snapshots.ndjson", all private; the first call
// for a folder also takes group and other permissions off what an older version left there. Failures are
// ignored; a folder that belongs to another account is left untouched.
void ensureDirectories();
// Closes an existing data folder, its "logs" and the files in them to others as ensureDirectories does, but
// creates nothing: for the commands that only read.
void tightenExisting();
// Creates `folder` and what is missing above it: the data folder and every folder inside it 0700 (an existing
// one of this user's closed to others), a folder elsewhere 0700 with its parents made the usual way.
void makeFolder(const QString& folder);
// A folder that belongs to another account.
struct ForeignFolder
{
    QString path;
    uid_t owner = 0;
};
// Where a folder at `missing` would be made (the nearest folder above it that exists) when that belongs to
// another account than this one and root: what this user made there, that account could swap.
std::optional<ForeignFolder> foreignParent(const QString& missing);
// Why the data folder must not be used, or nothing when it is fine (missing counts as fine): a folder owned
// by another account, or below one that another account owns (root aside) or may write to, could have its
// bridge script swapped for code that then runs as this user. A sticky folder such as /tmp passes where the
// folder below it is this user's own.
std::optional<QString> ownershipProblem();

// A private folder for the single-instance socket: $XDG_RUNTIME_DIR when it is this user's own and closed to
// others, else the "run" sub-folder of the data folder, created on demand.
QString runtimeDirectory();

// A file in the data folder.
QString path(const QString& fileName);
QString snapshotsPath();
QString settingsPath();
QString logPath();

} // namespace LocalFileStore
