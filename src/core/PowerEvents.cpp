#include "core/PowerEvents.h"

#include "core/StatusBits.h"

#include <algorithm>
#include <string>

namespace quelmar {

std::string_view eventName(PowerEvent event) {
    switch (event) {
    case PowerEvent::connected:
        return "connected";
    case PowerEvent::lost:
        return "lost";
    case PowerEvent::mainsLost:
        return "mains-lost";
    case PowerEvent::mainsRestored:
        return "mains-restored";
    case PowerEvent::batteryLow:
        return "battery-low";
    case PowerEvent::shutdownImminent:
        return "shutdown-imminent";
    case PowerEvent::shutdownStarted:
        break;
    }
    return "shutdown-started";
}

std::string eventText(PowerEvent event) {
    std::string text(eventName(event));
    std::replace(text.begin(), text.end(), '-', ' ');
    return text;
}

std::vector<PowerEvent> PowerEvents::connected() {
    if (connected_) {
        return {};
    }
    connected_ = true;
    return {PowerEvent::connected};
}

std::vector<PowerEvent> PowerEvents::lost() {
    if (!connected_) {
        return {};
    }
    connected_ = false;
    return {PowerEvent::lost};
}

std::vector<PowerEvent> PowerEvents::sample(const Snapshot& snapshot) {
    auto events = connected();
    const auto before = status_;
    status_ = snapshot.status;
    const auto rose = [&](std::int64_t bit) { return (status_ & bit) && !(before & bit); };
    const auto fell = [&](std::int64_t bit) { return !(status_ & bit) && (before & bit); };
    if (fell(StatusBit::mains)) {
        events.push_back(PowerEvent::mainsLost);
    }
    if (rose(StatusBit::mains)) {
        events.push_back(PowerEvent::mainsRestored);
    }
    if (rose(StatusBit::batteryLow)) {
        events.push_back(PowerEvent::batteryLow);
    }
    if (rose(StatusBit::shutdownImminent)) {
        events.push_back(PowerEvent::shutdownImminent);
    }
    return events;
}

} // namespace quelmar
