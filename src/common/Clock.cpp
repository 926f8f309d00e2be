#include "common/Clock.h"

#include <chrono>
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
