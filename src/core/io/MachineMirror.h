#pragma once

#include "core/io/MachineList.h"
#include "core/text/MachineFeed.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What this machine keeps of each other machine, under the data folder's "machines": the readings and usage
// rows pulled from it in "machines/<id>/" (its own random id), and how pulling from each destination went
// in "machines/<key>.json". Every file 0600, every folder 0700; nothing from a feed is written anywhere else.
namespace MachineMirror {

// This machine's own random id, made once in the data folder's "machine-id" (never /etc/machine-id, which
// cloned images share); empty when it can neither be read nor made.
QString ownId();

QString root();
// Empty for a string that is no machine id, so no id from outside can name another folder.
QString folder(const QString& machineId);
QString snapshotsPath(const QString& machineId);

// How the last pulls from one destination went.
struct State
{
    enum class Problem
    {
        none,
        unreachable,  // ssh failed: refused, timed out, no route, key not accepted
        notInstalled, // the remote shell found no tallyvane
        tooOld,       // a tallyvane without the feed, or of another feed format
        badFeed,      // output that is no feed, too large, or cut off
        itself,       // the destination is this machine
        duplicate,    // another destination already pulls the same machine
    };

    QString machine; // its id, once a header named it
    QString host;
    QString version;
    QString zone;
    QString cursor;
    std::optional<QDateTime> lastAttempt;
    std::optional<QDateTime> lastSuccess;
    std::optional<QDateTime> failingSince; // the first failure after the last success
    Problem problem = Problem::none;
    QString error; // the failure in words (cleaned), empty after a success
    QList<MachineFeed::Account> accounts;
    friend bool operator==(const State&, const State&) = default;
};

QString statePath(const MachineList::Machine& machine);
State loadState(const MachineList::Machine& machine);
bool saveState(const MachineList::Machine& machine, const State& state);

struct Usage
{
    QString zone;
    QList<MachineFeed::UsageRow> rows;
};
Usage loadUsage(const QString& machineId);
bool saveUsage(const QString& machineId, const Usage& usage);

// Removes the destination's state and, when given, the machine's folder.
void remove(const MachineList::Machine& machine, const QString& machineId);

} // namespace MachineMirror
