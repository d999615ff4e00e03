#include "cli/StoreCommands.h"

#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "core/text/JsonLines.h"

#include <QFileInfo>

namespace StoreCommands {

int dumpStore(SnapshotStore& store, QTextStream& out)
{
    // Printed as read: a long log is never held whole.
    store.scan([&](const UsageSnapshot& snapshot) {
        out << QString::fromUtf8(JsonLines::encodeLine(snapshot.toJson())) << '\n';
    });
    out.flush();
    return 0;
}

int exportCsv(SnapshotStore& store, const std::optional<QString>& destination, QTextStream& out,
              QTextStream& err)
{
    std::optional<QString> target = destination;
    if (target)
        target = QFileInfo(*target).absoluteFilePath();
    const std::optional<QString> written = store.exportCSV(target);
    if (!written) {
        const QString where = target.value_or(LocalFileStore::path(QStringLiteral("tallyvane-export.csv")));
        err << "tallyvane: CSV export to " << where << " failed: " << store.lastExportError() << '\n';
        err.flush();
        return 1;
    }
    out << "CSV export written to " << *written << '\n';
    out.flush();
    return 0;
}

} // namespace StoreCommands
