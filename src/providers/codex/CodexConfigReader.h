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

// Reads ~/.codex/config.toml with a deliberately small scanner: single-line `key = value` pairs only.
namespace CodexConfigReader {

// ~/.codex/config.toml under the current HOME.
QString configPath();

// Every field empty when the file is missing, unreadable or not UTF-8.
CodexConfig read();
CodexConfig read(const QString& path);
CodexConfig parse(QStringView text);

// The first line whose name is exactly `key`: its value trimmed and stripped of surrounding quotes,
// empty when that leaves nothing. Tables, comments and escapes are not understood.
std::optional<QString> value(QStringView key, QStringView text);

} // namespace CodexConfigReader
