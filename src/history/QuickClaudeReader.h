#pragma once

#include "history/TranscriptLine.h"

#include <functional>
#include <string_view>

// Reads a Claude Code line in one pass without building a document: it proves the line is one valid JSON
// object and reads what TranscriptLineDecoder would read from it. Where the proof or the reading would need
// the full parser (a \u escape, an exponent, a number of more than 18 digits, an escape in a key it looks up
// or in a string it reads, deep nesting, anything that is not JSON) it gives no answer.
namespace QuickClaudeReader {

enum class Outcome
{
    counts,    // `line` holds the reading
    countsNot, // valid JSON without a readable timestamp or a usage object
    repeat,    // ids `counted` knows: not read on, as neither a valid nor an invalid line would count
    unsure,
};

struct Result
{
    Outcome outcome = Outcome::unsure;
    TranscriptLine::Claude line; // its views point into the line read
};

// `counted(messageId, requestId)` is asked once, as soon as both ids are read, when neither is empty.
using Counted = std::function<bool(std::string_view messageId, std::string_view requestId)>;

Result read(std::string_view line, const Counted& counted);

} // namespace QuickClaudeReader
