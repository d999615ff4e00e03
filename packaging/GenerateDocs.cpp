// Build-time tool: writes the man page and the bash and zsh completions from the command-line table that
// also writes --help.
//   tallyvane-docgen man TEMPLATE VERSION DATE OUT
//   tallyvane-docgen bash OUT
//   tallyvane-docgen zsh OUT
#include "cli/CommandLineOptions.h"
#include "core/io/AtomicFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QTextStream>

using namespace CommandLineOptions;

namespace {

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

QStringList optionNames(Group group)
{
    QStringList names;
    for (const Option& option : options)
        if (option.group == group)
            names.append(text(option.name));
    return names;
}

// roff: a backslash is written \e, a minus as \- (so that options and dates copy as typed), and a line may
// not start with a control character.
QString roffEscape(QString line)
{
    line.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    line.replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
        line.prepend(QStringLiteral("\\&"));
    return line;
}

// Options in bold, inside already escaped roff text; with `placeholders`, the arguments' names (DATE, PATH)
// in italics too.
QString roffMarkUp(QString escaped, bool placeholders)
{
    static const QRegularExpression option(QStringLiteral("(?<![\\w\\\\-])((?:\\\\-){1,2}[a-z][a-z\\\\-]*)"));
    escaped.replace(option, QStringLiteral("\\fB\\1\\fR"));
    if (placeholders) {
        static const QRegularExpression name(QStringLiteral("\\b([A-Z]+)\\b"));
        escaped.replace(name, QStringLiteral("\\fI\\1\\fR"));
    }
    return escaped;
}

QString manSynopsis()
{
    QStringList lines;
    for (const GroupInfo& group : groups) {
        if (group.synopsis.empty())
            continue;
        QString line = roffMarkUp(roffEscape(text(group.synopsis)), true);
        const QString command =
            text(programName) + (group.command.empty() ? QString() : QLatin1Char(' ') + text(group.command));
        line.replace(0, command.size(), QStringLiteral("\\fB") + command + QStringLiteral("\\fR"));
        lines.append(line);
    }
    return lines.join(QStringLiteral("\n.br\n"));
}

QString manOptions()
{
    QString out;
    for (const GroupInfo& group : groups) {
        out += QStringLiteral(".SS ") + text(group.title) + QLatin1Char('\n');
        out += roffMarkUp(roffEscape(text(group.heading)), false) + QLatin1Char('\n');
        for (const Option& option : options) {
            if (option.group != group.group)
                continue;
            QString head = text(option.name);
            if (!option.argument.empty())
                head += QLatin1Char(' ') + text(option.argument);
            QString description = fullDescription(option);
            description[0] = description[0].toUpper();
            out += QStringLiteral(".TP\n") + roffMarkUp(roffEscape(head), true) + QLatin1Char('\n') +
                   roffMarkUp(roffEscape(description + QLatin1Char('.')), false) + QLatin1Char('\n');
        }
    }
    return out;
}

QString manPage(const QString& templateText, const QString& version, const QString& date)
{
    QString page = templateText;
    page.replace(QStringLiteral("@VERSION@"), version);
    page.replace(QStringLiteral("@DATE@"), date);
    page.replace(QStringLiteral("@SYNOPSIS@\n"), manSynopsis() + QLatin1Char('\n'));
    page.replace(QStringLiteral("@OPTIONS@\n"), manOptions());
    return page;
}

QString bashWords(const QStringList& words)
{
    return QLatin1Char('\'') + words.join(QLatin1Char(' ')) + QLatin1Char('\'');
}

// The words after `$1` that the line from word $1 on neither has already nor rules out (--json, --waybar).
QString bashUnused()
{
    QString out = QStringLiteral("_tallyvane_unused()\n{\n"
                                 "    local from=$1 word taken=' '\n"
                                 "    shift\n"
                                 "    for word in \"${COMP_WORDS[@]:from:COMP_CWORD-from}\"; do\n"
                                 "        taken+=\"$word \"\n"
                                 "        case $word in\n");
    QSet<QString> seen;
    for (const Option& option : options) {
        const QString name = text(option.name);
        if (option.excludes.empty() || seen.contains(name))
            continue;
        seen.insert(name);
        out += QStringLiteral("            %1) taken+='%2 ' ;;\n").arg(name, text(option.excludes));
    }
    out += QStringLiteral("        esac\n"
                          "    done\n"
                          "    for word; do\n"
                          "        [[ $taken == *\" $word \"* ]] || printf '%s\\n' \"$word\"\n"
                          "    done\n"
                          "}\n\n");
    return out;
}

QString bashCompletion()
{
    QString out =
        QStringLiteral(
            "# bash completion for tallyvane                                   -*- shell-script -*-\n"
            "# Written at build time from the table behind 'tallyvane --help'.\n\n") +
        bashUnused() +
        QStringLiteral("_tallyvane()\n{\n"
                       "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                       "    case $prev in\n");
    QSet<QString> seen;
    for (const Option& option : options) {
        const QString name = text(option.name);
        if (option.argument.empty() || seen.contains(name))
            continue;
        seen.insert(name);
        out += QStringLiteral("        %1)\n").arg(name);
        if (option.values == Values::file)
            out += QStringLiteral("            compopt -o filenames 2>/dev/null\n"
                                  "            mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n");
        else if (const QStringList values = choices(option.values); !values.isEmpty())
            out += QStringLiteral("            mapfile -t COMPREPLY < <(compgen -W %1 -- \"$cur\")\n")
                       .arg(bashWords(values));
        out += QStringLiteral("            return\n            ;;\n");
    }
    out += QStringLiteral("    esac\n");

    QStringList first;
    QStringList later = optionNames(Group::interface);
    for (const GroupInfo& group : groups)
        if (!group.command.empty())
            first.append(text(group.command));
    first += optionNames(Group::interface) + optionNames(Group::diagnostics);
    first.removeDuplicates();
    // After a command its own options; the diagnostics print and exit, so they stand alone.
    for (const GroupInfo& group : groups) {
        if (group.command.empty())
            continue;
        out += QStringLiteral(
                   "    if ((COMP_CWORD > 1)) && [[ ${COMP_WORDS[1]} == %1 ]]; then\n"
                   "        mapfile -t COMPREPLY < <(compgen -W \"$(_tallyvane_unused 2 %2)\" -- \"$cur\")\n"
                   "        return\n"
                   "    fi\n")
                   .arg(text(group.command), optionNames(group.group).join(QLatin1Char(' ')));
    }
    out += QStringLiteral(
               "    if ((COMP_CWORD == 1)); then\n"
               "        mapfile -t COMPREPLY < <(compgen -W %1 -- \"$cur\")\n"
               "    elif [[ ! \" %2 \" =~ \" ${COMP_WORDS[1]} \" ]]; then\n"
               "        mapfile -t COMPREPLY < <(compgen -W \"$(_tallyvane_unused 1 %3)\" -- \"$cur\")\n"
               "    fi\n"
               "}\n"
               "complete -F _tallyvane tallyvane\n")
               .arg(bashWords(first), optionNames(Group::diagnostics).join(QLatin1Char(' ')),
                    later.join(QLatin1Char(' ')));
    return out;
}

// One _arguments specification: '--mode[description]:MODE:(a b c)'.
QString zshSpec(const Option& option, const QString& exclusions)
{
    QString description = fullDescription(option);
    for (const QChar c : {QLatin1Char('\\'), QLatin1Char('['), QLatin1Char(']'), QLatin1Char(':')})
        description.replace(c, QStringLiteral("\\") + c);
    description.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    // zsh offers no option twice unless told; what an option rules out goes in its exclusion list.
    QString excluded = exclusions;
    if (!option.excludes.empty())
        excluded = excluded.isEmpty()
                       ? QLatin1Char('(') + text(option.excludes) + QLatin1Char(')')
                       : excluded.chopped(1) + QLatin1Char(' ') + text(option.excludes) + QLatin1Char(')');
    QString spec = excluded + text(option.name) + QLatin1Char('[') + description + QLatin1Char(']');
    if (!option.argument.empty()) {
        const bool optional = option.argument.starts_with('[');
        QString argument = text(option.argument);
        argument.remove(QLatin1Char('[')).remove(QLatin1Char(']'));
        spec += (optional ? QStringLiteral("::") : QStringLiteral(":")) + argument + QLatin1Char(':');
        if (option.values == Values::file)
            spec += QStringLiteral("_files");
        else if (const QStringList values = choices(option.values); !values.isEmpty())
            spec += QLatin1Char('(') + values.join(QLatin1Char(' ')) + QLatin1Char(')');
        else
            spec += QLatin1Char(' ');
    }
    return QLatin1Char('\'') + spec + QLatin1Char('\'');
}

QString zshCompletion()
{
    QString out =
        QStringLiteral("#compdef tallyvane\n"
                       "# zsh completion for tallyvane, written at build time from the table behind\n"
                       "# 'tallyvane --help'.\n\n");
    const auto specs = [](Group group, const QString& exclusions) {
        QStringList list;
        for (const Option& option : options)
            if (option.group == group)
                list.append(zshSpec(option, exclusions));
        return list;
    };
    const auto arguments = [](const QStringList& specList) {
        return QStringLiteral("_arguments -s \\\n        ") + specList.join(QStringLiteral(" \\\n        ")) +
               QLatin1Char('\n');
    };
    for (const GroupInfo& group : groups) {
        if (group.command.empty())
            continue;
        out += QStringLiteral("if (( CURRENT > 2 )) && [[ $words[2] == %1 ]]; then\n"
                              "    shift words\n"
                              "    (( CURRENT-- ))\n"
                              "    %2"
                              "    return\n"
                              "fi\n")
                   .arg(text(group.command), arguments(specs(group.group, {})));
    }
    QStringList commands;
    for (const GroupInfo& group : groups)
        if (!group.command.empty())
            commands.append(text(group.command));
    // A command comes first; the diagnostics print and exit, so they stand alone.
    out += arguments(specs(Group::interface, QStringLiteral("(1 %1)").arg(
                                                 optionNames(Group::diagnostics).join(QLatin1Char(' ')))) +
                     specs(Group::diagnostics, QStringLiteral("(- 1 *)")) +
                     QStringList{QStringLiteral("'(-)1:command:(%1)'").arg(commands.join(QLatin1Char(' ')))});
    return out;
}

bool writeOut(const QString& path, const QString& content)
{
    QString error;
    if (!AtomicFile::write(path, content.toUtf8(), &error)) {
        QTextStream(stderr) << "tallyvane-docgen: " << path << ": " << error << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    if (args.size() == 5 && args[0] == QLatin1String("man")) {
        QFile templateFile(args[1]);
        if (!templateFile.open(QIODevice::ReadOnly)) {
            QTextStream(stderr) << "tallyvane-docgen: " << args[1] << ": " << templateFile.errorString()
                                << '\n';
            return 1;
        }
        return writeOut(args[4], manPage(QString::fromUtf8(templateFile.readAll()), args[2], args[3])) ? 0
                                                                                                       : 1;
    }
    if (args.size() == 2 && args[0] == QLatin1String("bash"))
        return writeOut(args[1], bashCompletion()) ? 0 : 1;
    if (args.size() == 2 && args[0] == QLatin1String("zsh"))
        return writeOut(args[1], zshCompletion()) ? 0 : 1;
    QTextStream(stderr) << "usage: tallyvane-docgen man TEMPLATE VERSION DATE OUT | bash OUT | zsh OUT\n";
    return 2;
}
