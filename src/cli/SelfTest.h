#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTextStream>

// `tallyvane --selftest`: checks what the running application depends on, one line each, without writing
// anything or contacting any server.
namespace SelfTest {

struct Check
{
    enum class Verdict
    {
        ok,
        note, // worth knowing, not a fault (Codex not installed, Claude not connected yet)
        fail,
    };
    Verdict verdict = Verdict::ok;
    QString name;
    QString detail;
};

[[nodiscard]] QList<Check> runChecks(const QDateTime& now);
// "ok    data folder: …", "note  …", "FAIL  …".
[[nodiscard]] QString line(const Check& check);
// Prints the checks and a summary; 1 when any failed.
int run(const QDateTime& now, QTextStream& out);

} // namespace SelfTest
