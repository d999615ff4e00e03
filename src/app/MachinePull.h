#pragma once

#include "core/io/MachineList.h"
#include "core/io/MachineMirror.h"
#include "core/runtime/Clock.h"

#include <QString>
#include <QStringList>

#include <chrono>

// One pull from another machine: `ssh DEST tallyvane feed --since CURSOR` with the user's own client, never
// asking for a password, its output read as untrusted data within bounds and a time-out, and what came
// merged into that machine's mirror. Blocks its caller: the collector runs it on its own queue.
namespace MachinePull {

struct Options
{
    // The ssh client: TALLYVANE_SSH when set, else "ssh" on the path.
    QString ssh;
    // Before the destination (for instance "-F", a config file).
    QStringList sshArguments;
    // The whole pull, after which ssh and everything it started are killed.
    std::chrono::milliseconds timeout{60000};
    // Mirrored readings older than this go.
    qint64 retentionDays = 30;
    const Clock* clock = &Clock::system();
};

struct Outcome
{
    MachineMirror::State state;
    qint64 bytes = 0;        // read from ssh
    qint64 newSnapshots = 0; // readings the mirror had not held
    bool usageChanged = false;
    bool ok() const { return state.problem == MachineMirror::State::Problem::none; }
};

Outcome pull(const MachineList::Machine& machine, const Options& options = {});

} // namespace MachinePull
