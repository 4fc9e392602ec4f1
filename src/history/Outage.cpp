#include "history/Outage.h"

namespace quelmar {

std::vector<Outage> outagesOf(std::span<const HistoryEvent> events, HistoryTime now) {
    std::vector<Outage> outages;
    bool open = false;
    for (const auto& event : events) {
        const bool lost = event.kind == HistoryEventKind::mainsLost;
        const bool restored = event.kind == HistoryEventKind::mainsRestored;
        const bool unseen = event.kind == HistoryEventKind::boardLost || event.kind == HistoryEventKind::boardConnected;
        if (open && (lost || restored || unseen)) {
            auto& outage = outages.back();
            outage.end = event.time;
            outage.restored = restored;
            outage.length = event.time - outage.start;
            open = false;
        }
        if (lost) {
            Outage outage;
            outage.start = event.time;
            outages.push_back(outage);
            open = true;
        }
    }
    if (open) {
        outages.back().length = now - outages.back().start;
    }
    return outages;
}

} // namespace quelmar
