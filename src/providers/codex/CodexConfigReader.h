#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The settings Tallyvane borrows from the user's Codex configuration file.
struct CodexConfig
{
    std::optional<QString> model;
    std::optional<QString> modelReasoningEffort;
    std::optional<QString> planModeReasoningEffort;
    std::optional<QString> serviceTier;
    // "fast", or "fast_mode" when "fast" gives nothing; the raw text (for example "true").
    std::optional<QString> fastMode;

    friend bool operator==(const CodexConfig&, const CodexConfig&) = default;
};

// Reads Codex's config.toml with a deliberately small scanner: single-line `key = value` pairs only.
namespace CodexConfigReader {

// A real configuration is a few hundred bytes.
inline constexpr qint64 maxBytes = 256 * 1024;

// config.toml in $CODEX_HOME or ~/.codex.
QString configPath();

// Every field empty when the file is missing, not a regular file, over `maxBytes`, unreadable or not UTF-8.
CodexConfig read();
CodexConfig read(const QString& path);
CodexConfig parse(QStringView text);

// The first line whose name is exactly `key`: its value trimmed and stripped of surrounding quotes,
// empty when that leaves nothing. Tables, comments and escapes are not understood.
std::optional<QString> value(QStringView key, QStringView text);

} // namespace CodexConfigReader
