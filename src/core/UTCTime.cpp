#include "core/UTCTime.h"

#include <cstdio>

namespace quelmar {

std::string utcText(std::chrono::system_clock::time_point time, bool milliseconds) {
    using namespace std::chrono;
    const auto millis = floor<std::chrono::milliseconds>(time);
    const auto day = floor<days>(millis);
    const year_month_day date(day);
    const hh_mm_ss clock(millis - day);
    char text[80];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                      static_cast<long long>(clock.seconds().count()));
    std::string out(text, static_cast<std::size_t>(length));
    if (milliseconds) {
        std::snprintf(text, sizeof text, ".%03lld", static_cast<long long>(clock.subseconds().count()));
        out += text;
    }
    return out + "Z";
}

} // namespace quelmar
