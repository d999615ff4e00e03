#pragma once

#include <QString>
#include <QTextStream>

#include <optional>

class SnapshotStore;

// Command-line modes that read the snapshot log. Each returns the process exit status.
namespace StoreCommands {

// Every stored snapshot as one JSON line, in file order.
int dumpStore(SnapshotStore& store, QTextStream& out);

// Writes the CSV export (default: the data folder's "tallyvane-export.csv") and prints where; on failure
// says why on `err` and returns 1.
int exportCsv(SnapshotStore& store, const std::optional<QString>& destination, QTextStream& out,
              QTextStream& err);

} // namespace StoreCommands
