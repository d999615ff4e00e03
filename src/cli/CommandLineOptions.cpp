#include "cli/CommandLineOptions.h"

#include "core/model/AppSettings.h"
#include "core/model/Enums.h"

#include <algorithm>
#include <cstdlib>

namespace CommandLineOptions {
namespace {

constexpr qsizetype helpWidth = 80;
constexpr qsizetype optionColumn = 23;

QString text(std::string_view view)
{
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

QStringList rawValues(const auto& values)
{
    QStringList raw;
    for (const auto value : values)
        raw.append(rawValue(value));
    return raw;
}

// Appends `words` to `out` in lines of at most helpWidth columns, every line after the first one indented.
void wrap(QString& out, const QString& words, qsizetype firstColumn, qsizetype indent)
{
    qsizetype column = firstColumn;
    bool lineStarted = false;
    for (const QString& word : words.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (lineStarted && column + 1 + word.size() > helpWidth) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
            lineStarted = false;
        }
        if (lineStarted) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += word.size();
        lineStarted = true;
    }
    out += QLatin1Char('\n');
}

} // namespace

QStringList choices(Values values)
{
    switch (values) {
    case Values::displayModes:
        return rawValues(allMenuBarDisplayModes);
    case Values::forecastBases:
        return rawValues(allForecastBases);
    case Values::providers:
        return rawValues(allProviders);
    case Values::none:
    case Values::file:
        break;
    }
    return {};
}

QString fullDescription(const Option& option)
{
    const QStringList values = choices(option.values);
    QString description = text(option.description);
    if (!values.isEmpty())
        description += QStringLiteral(": ") + values.join(QStringLiteral(", "));
    return description;
}

namespace {

void appendOptions(QString& out, const GroupInfo& group)
{
    wrap(out, text(group.heading), 0, 0);
    for (const Option& option : options) {
        if (option.group != group.group)
            continue;
        QString head = QStringLiteral("  ") + text(option.name);
        if (!option.argument.empty())
            head += QLatin1Char(' ') + text(option.argument);
        if (head.size() + 1 > optionColumn) {
            out += head + QLatin1Char('\n') + QString(optionColumn, QLatin1Char(' '));
        } else {
            out += head.leftJustified(optionColumn);
        }
        wrap(out, fullDescription(option), optionColumn, optionColumn);
    }
}

// Edits between two words, a swap of neighbours counting as one (the commonest slip in typing an option).
qsizetype distance(QStringView a, QStringView b)
{
    QList<QList<qsizetype>> d(a.size() + 1, QList<qsizetype>(b.size() + 1, 0));
    for (qsizetype i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (qsizetype j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (qsizetype i = 1; i <= a.size(); ++i) {
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

} // namespace

QString help(Group group)
{
    QString out;
    for (const GroupInfo& info : groups) {
        if (info.group != group)
            continue;
        out += QStringLiteral("Usage: ") + text(info.synopsis) + QStringLiteral("\n\n");
        appendOptions(out, info);
    }
    out += QLatin1Char('\n');
    wrap(out, text(exitStatus), 0, 0);
    return out;
}

std::optional<Group> commandGroup(const QString& command)
{
    for (const GroupInfo& info : groups)
        if (!info.command.empty() && command == text(info.command))
            return info.group;
    return std::nullopt;
}

QString unknownOption(const QString& given, std::initializer_list<Group> among)
{
    QString message = QStringLiteral("unknown option '%1'").arg(given);
    std::optional<QString> nearest;
    qsizetype best = 3; // farther than two edits is no slip of the finger
    for (const Option& option : options) {
        if (std::find(among.begin(), among.end(), option.group) == among.end())
            continue;
        const QString name = text(option.name);
        // More letters apart than edits allowed: no need to count them (nor to size a table by a huge word).
        if (std::abs(given.size() - name.size()) >= best)
            continue;
        const qsizetype edits = distance(given, name);
        // Short names need a closer match: "--at" is not what "--xy" meant.
        if (edits < best && edits * 2 < name.size() - 2) {
            best = edits;
            nearest = name;
        }
    }
    if (nearest)
        message += QStringLiteral("; did you mean %1?").arg(*nearest);
    return message;
}

QString help()
{
    QString out = QStringLiteral("Usage: ");
    bool firstSynopsis = true;
    for (const GroupInfo& group : groups) {
        if (group.synopsis.empty())
            continue;
        out += (firstSynopsis ? QString() : QStringLiteral("       ")) + text(group.synopsis) +
               QLatin1Char('\n');
        firstSynopsis = false;
    }
    for (const GroupInfo& group : groups) {
        out += QLatin1Char('\n');
        appendOptions(out, group);
    }
    out += QLatin1Char('\n');
    wrap(out, text(exitStatus), 0, 0);
    return out;
}

} // namespace CommandLineOptions
