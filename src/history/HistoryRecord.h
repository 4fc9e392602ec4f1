#pragma once

#include "core/Snapshot.h"

#include <chrono>
#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quelmar {

// The history keeps whole seconds: the board is sampled once a second.
using HistoryTime = std::chrono::sys_seconds;

// A board as the history tells boards apart: its device id ("location:<n>" or "serial:<s>") and its serial, so
// that another board plugged into the same port keeps a history of its own.
struct HistoryBoard {
    std::string id;
    std::string serial;

    auto operator<=>(const HistoryBoard&) const = default;
};

struct HistorySample {
    HistoryTime time;
    Snapshot snapshot;

    bool operator==(const HistorySample&) const = default;
};

enum class HistoryEventKind {
    mainsLost,
    mainsRestored,
    batteryLowRaised,
    shutdownImminentRaised,
    boardConnected,
    boardLost,
    firmwareFlashed,
    batteryParametersWritten,
};

// The kind's name in the database ("mains-lost"); eventKindNamed is its inverse.
std::string_view nameOf(HistoryEventKind kind);
std::optional<HistoryEventKind> eventKindNamed(std::string_view name);

struct HistoryEvent {
    HistoryTime time;
    HistoryEventKind kind;
    std::string text; // as the caller wrote it

    bool operator==(const HistoryEvent&) const = default;
};

// One thing to write: a sample or an event of a board.
struct HistoryEntry {
    HistoryBoard board;
    std::variant<HistorySample, HistoryEvent> record;
};

} // namespace quelmar
