#pragma once

#include <QString>

// The application's private data folder; every file the application owns lives there.
namespace LocalFileStore {

// $XDG_DATA_HOME/Tallyvane (usually ~/.local/share/Tallyvane); computed on every call.
QString baseDirectory();
// Creates the data folder, its "logs" sub-folder and an empty "snapshots.ndjson"; failures are ignored.
void ensureDirectories();

// A file in the data folder.
QString path(const QString& fileName);
QString snapshotsPath();
QString settingsPath();
QString logPath();

} // namespace LocalFileStore
