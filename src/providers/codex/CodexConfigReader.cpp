#include "providers/codex/CodexConfigReader.h"

#include "core/io/CodexHome.h"
#include "core/io/FileIo.h"

#include <QStringDecoder>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isQuote(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'');
}

QStringView trimmed(QStringView text, bool (*strip)(QChar))
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && strip(text[first]))
        ++first;
    while (last > first && strip(text[last - 1]))
        --last;
    return text.sliced(first, last - first);
}

} // namespace

namespace CodexConfigReader {

QString configPath()
{
    return CodexHome::path() + QStringLiteral("/config.toml");
}

CodexConfig read()
{
    return read(configPath());
}

CodexConfig read(const QString& path)
{
    // Read on every push: a FIFO or a link to a device there must neither block nor flood.
    const std::optional<QByteArray> bytes = FileIo::readRegularFile(path, maxBytes);
    if (!bytes)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(*bytes);
    if (decoder.hasError())
        return {};
    return parse(text);
}

CodexConfig parse(QStringView text)
{
    CodexConfig config;
    config.model = value(u"model", text);
    config.modelReasoningEffort = value(u"model_reasoning_effort", text);
    config.planModeReasoningEffort = value(u"plan_mode_reasoning_effort", text);
    config.serviceTier = value(u"service_tier", text);
    config.fastMode = value(u"fast", text);
    if (!config.fastMode)
        config.fastMode = value(u"fast_mode", text);
    return config;
}

std::optional<QString> value(QStringView key, QStringView text)
{
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        QStringView line = text.sliced(start, end - start);
        start = end + 1;
        // A file saved with CRLF endings reads the same as one with LF.
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line = trimmed(line, isBlank);
        if (line.isEmpty() || !line.startsWith(key))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QStringView name = line.first(equals);
        const QStringView rest = line.sliced(equals + 1);
        if (name.isEmpty() || rest.isEmpty())
            continue;
        if (trimmed(name, isBlank) != key)
            continue;
        const QStringView result = trimmed(trimmed(rest, isBlank), isQuote);
        if (result.isEmpty())
            return std::nullopt;
        return result.toString();
    }
    return std::nullopt;
}

} // namespace CodexConfigReader
