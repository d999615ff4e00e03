#pragma once

#include <QStringList>

// `tallyvane --logictest`: runs one demo cycle through the engines, prints one line per check and a summary.
namespace LogicTest {

struct Outcome
{
    QStringList lines;
    int failures = 0;
};

[[nodiscard]] Outcome runChecks();
// Prints the checks; 0 when all pass, 1 otherwise.
int run();

} // namespace LogicTest
