#include "history/HistoryRecord.h"

#include <array>
#include <utility>

namespace quelmar {

namespace {

constexpr std::array<std::pair<HistoryEventKind, std::string_view>, 8> kindNames = {{
    {HistoryEventKind::mainsLost, "mains-lost"},
    {HistoryEventKind::mainsRestored, "mains-restored"},
    {HistoryEventKind::batteryLowRaised, "battery-low"},
    {HistoryEventKind::shutdownImminentRaised, "shutdown-imminent"},
    {HistoryEventKind::boardConnected, "board-connected"},
    {HistoryEventKind::boardLost, "board-lost"},
    {HistoryEventKind::firmwareFlashed, "firmware-flashed"},
    {HistoryEventKind::batteryParametersWritten, "battery-parameters-written"},
}};

} // namespace

std::string_view nameOf(HistoryEventKind kind) {
    for (const auto& [k, name] : kindNames) {
        if (k == kind) {
            return name;
        }
    }
    return {};
}

std::optional<HistoryEventKind> eventKindNamed(std::string_view name) {
    for (const auto& [kind, n] : kindNames) {
        if (n == name) {
            return kind;
        }
    }
    return std::nullopt;
}

} // namespace quelmar
