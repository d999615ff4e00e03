#pragma once

#include "core/model/Enums.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// `tallyvane accounts`: lists the account folders Tallyvane watches, adds one, or stops watching one. Writes
// only the data folder's accounts.json.
namespace AccountsCommand {

struct Options
{
    enum class Action
    {
        list,
        add,
        remove
    };
    Action action = Action::list;
    bool json = false;
    QString folder; // absolute, for add and remove
    QString label;
    std::optional<Provider> provider;
};

// The refusal in words when the arguments make no sense.
[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);
// 0 when done, 1 when accounts.json could not be written, 2 when the folder cannot be an account.
int run(const Options& options);

} // namespace AccountsCommand
