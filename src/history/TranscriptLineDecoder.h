#pragma once

#include "history/TranscriptLine.h"

#include <simdjson.h>

#include <memory>

// Decodes single transcript lines with simdjson's validating DOM parser: a line that is not valid UTF-8 or
// not one JSON object yields nothing, alone.
class TranscriptLineDecoder
{
public:
    // Lines handed over with this many readable bytes after their end are parsed in place.
    static constexpr std::size_t padding = simdjson::SIMDJSON_PADDING;

    TranscriptLineDecoder();

    std::optional<TranscriptLine::Claude> claude(std::string_view line, bool padded);
    std::optional<TranscriptLine::Codex> codex(std::string_view line, bool padded);

private:
    simdjson::simdjson_result<simdjson::dom::element> parse(std::string_view line, bool padded);

    simdjson::dom::parser m_parser;
    std::unique_ptr<simdjson::dom::parser> m_large; // for the rare huge line, freed after it
};
