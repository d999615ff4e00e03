#pragma once

#include <QString>
#include <QStringList>

#include <variant>

// `tallyvane machines`: the other machines whose usage Tallyvane pulls over SSH, their health, adding and
// removing one, and pulling now (for scripts and cron). Writes machines.json and, for pull and remove, what
// Tallyvane keeps of each machine under the data folder's "machines".
namespace MachinesCommand {

struct Options
{
    enum class Action
    {
        list,
        add,
        remove,
        pull
    };
    Action action = Action::list;
    bool json = false;
    QString name; // the destination for add; a label or destination for remove and pull
    QString label;
};

[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);
// 0 when done; 1 when a pull failed or machines.json could not be written; 2 for a destination that cannot be
// used or a machine not in the list.
int run(const Options& options);

} // namespace MachinesCommand
