#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The other machines the user pulls from, in the data folder's machines.json: written only by `tallyvane
// machines` and Settings, read by every collector on each pull round, so either may change it while the
// tray runs.
namespace MachineList {

struct Machine
{
    QString destination; // as the user types it for ssh: "devbox", "me@host", an alias of ~/.ssh/config
    QString label;       // empty: the destination's host part
    bool enabled = true;

    // The label, else the host part of the destination ("host" for "me@host").
    QString name() const;
    // 8 hex digits naming the destination in file names.
    QString key() const;
    friend bool operator==(const Machine&, const Machine&) = default;
};

// Why a destination cannot be used, or nothing: empty, over 255 characters, starting with "-" (ssh would
// read it as an option) or holding a control character or white space.
std::optional<QString> destinationProblem(const QString& destination);

QString path();
// Nothing for a missing, foreign, oversized or unreadable file; entries with a bad destination are skipped.
QList<Machine> load();
// Replaces the file (0600); false with the reason in `error` when it cannot.
bool save(const QList<Machine>& machines, QString* error = nullptr);

QByteArray encode(const QList<Machine>& machines);
QList<Machine> decode(const QByteArray& bytes);

// The machine a name given on the command line means: its label or its destination.
std::optional<Machine> find(const QList<Machine>& machines, const QString& name);

} // namespace MachineList
