#include "cli/MachinesCommand.h"

#include "app/MachineHealth.h"
#include "app/MachinePull.h"
#include "core/io/LocalFileStore.h"
#include "core/io/MachineList.h"
#include "core/io/MachineMirror.h"
#include "core/io/SettingsStore.h"
#include "core/text/JsonLines.h"
#include "core/text/TerminalText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

using namespace Qt::StringLiterals;
using Options = MachinesCommand::Options;

int fail(const QString& message, int status)
{
    QTextStream(stderr) << "tallyvane: " << message << '\n';
    return status;
}

int list(bool json)
{
    const QDateTime now = Clock::system().now();
    QTextStream out(stdout);
    QJsonArray rows;
    const QList<MachineList::Machine> machines = MachineList::load();
    if (!json && machines.isEmpty())
        out << "No other machines. Add one with: tallyvane machines add DESTINATION\n";
    for (const MachineList::Machine& m : machines) {
        const MachineMirror::State state = MachineMirror::loadState(m);
        const QString health = MachineHealth::line(m, state, now);
        if (!json) {
            out << TerminalText::clean(health) << "  [" << m.destination << ']' << '\n';
            continue;
        }
        QJsonObject row{{u"destination"_s, m.destination},
                        {u"label"_s, m.name()},
                        {u"enabled"_s, m.enabled},
                        {u"health"_s, health.mid(m.name().size() + 2)},
                        {u"ok"_s, state.problem == MachineMirror::State::Problem::none && state.lastSuccess}};
        if (!state.machine.isEmpty())
            row.insert(u"machine"_s, state.machine);
        if (!state.host.isEmpty())
            row.insert(u"host"_s, state.host);
        if (!state.version.isEmpty())
            row.insert(u"version"_s, state.version);
        if (state.lastSuccess)
            row.insert(u"lastSuccess"_s, JsonLines::formatDate(*state.lastSuccess));
        rows.append(row);
    }
    if (json)
        out << QJsonDocument(QJsonObject{{u"machines"_s, rows}}).toJson(QJsonDocument::Indented);
    return 0;
}

int add(const Options& options)
{
    if (const auto problem = MachineList::destinationProblem(options.name))
        return fail(*problem, 2);
    QList<MachineList::Machine> machines = MachineList::load();
    if (MachineList::find(machines, options.name))
        return fail(u"%1 is already in the list"_s.arg(options.name), 2);
    MachineList::Machine machine{options.name, TerminalText::name(options.label).left(64), true};
    machines.append(machine);
    QString error;
    if (!MachineList::save(machines, &error))
        return fail(u"could not write %1: %2"_s.arg(MachineList::path(), error), 1);
    QTextStream(stdout) << "Added " << machine.name() << " (" << machine.destination
                        << "). A running Tallyvane pulls it every 5 minutes; tallyvane machines pull pulls "
                           "it now.\n";
    return 0;
}

int remove(const Options& options)
{
    QList<MachineList::Machine> machines = MachineList::load();
    const auto machine = MachineList::find(machines, options.name);
    if (!machine)
        return fail(u"no machine %1 in the list (see tallyvane machines list)"_s.arg(options.name), 2);
    machines.removeAll(*machine);
    QString error;
    if (!MachineList::save(machines, &error))
        return fail(u"could not write %1: %2"_s.arg(MachineList::path(), error), 1);
    MachineMirror::remove(*machine, MachineMirror::loadState(*machine).machine);
    QTextStream(stdout) << "Removed " << machine->name() << " and what was pulled from it.\n";
    return 0;
}

int pull(const Options& options)
{
    QList<MachineList::Machine> machines = MachineList::load();
    if (!options.name.isEmpty()) {
        const auto machine = MachineList::find(machines, options.name);
        if (!machine)
            return fail(u"no machine %1 in the list (see tallyvane machines list)"_s.arg(options.name), 2);
        machines = {*machine};
    }
    MachinePull::Options pullOptions;
    pullOptions.retentionDays = SettingsStore::peek(LocalFileStore::settingsPath()).retentionDays;
    QTextStream out(stdout);
    int status = 0;
    for (const MachineList::Machine& m : std::as_const(machines)) {
        if (!m.enabled && options.name.isEmpty())
            continue;
        const MachinePull::Outcome outcome = MachinePull::pull(m, pullOptions);
        out << TerminalText::clean(MachineHealth::line(m, outcome.state, Clock::system().now()));
        if (outcome.ok())
            out << " (" << outcome.newSnapshots
                << (outcome.newSnapshots == 1 ? " new reading, " : " new readings, ") << outcome.bytes
                << " bytes)";
        out << '\n';
        out.flush();
        if (!outcome.ok())
            status = 1;
    }
    return status;
}

} // namespace

namespace MachinesCommand {

std::variant<Options, QString> parse(const QStringList& arguments)
{
    Options options;
    QStringList rest = arguments;
    if (!rest.isEmpty() && !rest.front().startsWith(u'-')) {
        const QString verb = rest.takeFirst();
        if (verb == "list"_L1)
            options.action = Options::Action::list;
        else if (verb == "add"_L1)
            options.action = Options::Action::add;
        else if (verb == "remove"_L1)
            options.action = Options::Action::remove;
        else if (verb == "pull"_L1)
            options.action = Options::Action::pull;
        else
            return u"unknown machines action '%1': list, add, remove or pull"_s.arg(verb);
    }
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QString& arg = rest[i];
        if (arg == "--json"_L1 && options.action == Options::Action::list) {
            options.json = true;
        } else if (arg == "--label"_L1 && options.action == Options::Action::add) {
            if (i + 1 >= rest.size())
                return u"--label takes a name"_s;
            options.label = rest[++i];
        } else if (arg == "--"_L1 && i + 1 < rest.size() && options.name.isEmpty()) {
            options.name = rest[++i];
        } else if (options.name.isEmpty() && options.action != Options::Action::list &&
                   !arg.startsWith(u'-')) {
            options.name = arg;
        } else if (options.action == Options::Action::add && options.name.isEmpty()) {
            // A destination starting with "-" would reach ssh as an option.
            return u"a destination cannot start with \"-\""_s;
        } else {
            return u"unknown argument '%1'"_s.arg(arg);
        }
    }
    if ((options.action == Options::Action::add || options.action == Options::Action::remove) &&
        options.name.isEmpty())
        return options.action == Options::Action::add ? u"machines add takes a destination"_s
                                                      : u"machines remove takes a machine"_s;
    return options;
}

int run(const Options& options)
{
    switch (options.action) {
    case Options::Action::list:
        return list(options.json);
    case Options::Action::add:
        return add(options);
    case Options::Action::remove:
        return remove(options);
    case Options::Action::pull:
        return pull(options);
    }
    return 2;
}

} // namespace MachinesCommand
