#include "common/Clock.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace vantorel {
namespace {

constexpr double kUnixEpochAsDateTime = 25569.0; // 1970-01-01 as a date-time

const SystemClock& TheSystemClock() {
    static const SystemClock clock;
    return clock;
}

const IClock* gClock = nullptr;

} // namespace

TDateTime SystemClock::NowUTC() const {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const double ms =
        static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    return kUnixEpochAsDateTime + ms / kMilliSecondsPerDay;
}

TDateTime SystemClock::NowLocal() const {
    const TDateTime utc = NowUTC();
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return utc;
    }
    return utc + static_cast<double>(local.tm_gmtoff) / kSecondsPerDay;
}

double WholeMinutes(double offsetDays) {
    return std::nearbyint(offsetDays * kMinutesPerDay) / kMinutesPerDay;
}

double IClock::LocalOffsetAt(TDateTime /*local*/) const {
    const TDateTime localNow = NowLocal();
    return WholeMinutes(localNow - NowUTC());
}

double SystemClock::LocalOffsetAt(TDateTime local) const {
    const DateTimeParts parts = DecodeDateTime(local);
    std::tm tm{};
    tm.tm_year = parts.year - 1900;
    tm.tm_mon = parts.month - 1;
    tm.tm_mday = parts.day;
    tm.tm_hour = parts.hour;
    tm.tm_min = parts.minute;
    tm.tm_sec = parts.second;
    tm.tm_isdst = -1; // the zone's rules decide
    if (mktime(&tm) == static_cast<std::time_t>(-1)) {
        return IClock::LocalOffsetAt(local);
    }
    return WholeMinutes(static_cast<double>(tm.tm_gmtoff) / kSecondsPerDay);
}

TDateTime OffsetClock::NowUTC() const {
    return TheSystemClock().NowUTC();
}

const IClock& CurrentClock() {
    return gClock != nullptr ? *gClock : TheSystemClock();
}

ScopedClock::ScopedClock(const IClock& clock) : previous_(gClock) {
    gClock = &clock;
}

ScopedClock::~ScopedClock() {
    gClock = previous_;
}

TDateTime NowUTC() {
    return CurrentClock().NowUTC();
}

TDateTime NowLocal() {
    return CurrentClock().NowLocal();
}

} // namespace vantorel
