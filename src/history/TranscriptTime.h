#pragma once

#include <QtGlobal>

#include <optional>
#include <string_view>

// Transcript timestamps as milliseconds since 1970 UTC.
namespace TranscriptTime {

// What JsonLines::parseDate accepts, with the common "2025-06-01T23:30:00.123Z" form read without
// building a string or a date object.
std::optional<qint64> parseMs(std::string_view text);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
qint64 daysFromCivil(int year, int month, int day);
void civilFromDays(qint64 days, int& year, int& month, int& day);

} // namespace TranscriptTime
