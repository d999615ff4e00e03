#include "cli/CommandLineOptions.h"

#include "core/AppSettings.h"
#include "core/Enums.h"

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
    out += QLatin1Char('\n');
    wrap(out, text(exitStatus), 0, 0);
    return out;
}

} // namespace CommandLineOptions
