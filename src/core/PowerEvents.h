#pragma once

#include "core/Snapshot.h"
#include "core/StatusBits.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelmar {

// What happened to the board's power, as monitoring reports it.
enum class PowerEvent { connected, lost, mainsLost, mainsRestored, batteryLow, shutdownImminent, shutdownStarted };

// "mains-lost": the event's name in JSON output.
std::string_view eventName(PowerEvent event);
// "mains lost": the event as a line of text.
std::string eventText(PowerEvent event);

// Turns successive observations of one board into the events they raise, each once per edge: a state that
// persists raises nothing more. The last status seen outlives a loss, so a board that returns in the state it
// left raises only "connected". Before the first sample the board counts as on mains with no warning set.
class PowerEvents {
public:
    std::vector<PowerEvent> connected();
    std::vector<PowerEvent> lost();
    // A sample of a board not yet connected connects it first.
    std::vector<PowerEvent> sample(const Snapshot& snapshot);

private:
    bool connected_ = false;
    std::int64_t status_ = StatusBit::mains;
};

} // namespace quelmar
