#pragma once

#include "history/HistoryRecord.h"

#include <span>
#include <string>

namespace quelmar {

// A span's samples as CSV (RFC 4180, CRLF line ends): a header row "time" followed by the Snapshot's field names
// and "status"; one row a sample with its time in ISO 8601 UTC, each value at the board's resolution with a dot,
// an absent value left empty, the status bits as a number.
std::string historyCSV(std::span<const HistorySample> samples);

} // namespace quelmar
