#pragma once

#include "common/DateTime.h"

#include <chrono>

namespace vantorel {

/// Where the program reads the time. The system clock serves by default; tests and the
/// command line put a fixed one in its place so that nothing depends on the machine's
/// clock or time zone.
class IClock {
public:
    virtual ~IClock() = default;
    /// The current UTC date-time.
    virtual TDateTime NowUTC() const = 0;
    /// The current date-time of the computer's local clock.
    virtual TDateTime NowLocal() const = 0;
    /// The offset of the local clock from UTC (days, whole minutes, positive east of
    /// Greenwich) in force at a local date-time. Clocks without time-zone rules keep the
    /// offset they have now: local time read just before UTC, so that the moment between
    /// the two readings never costs a step.
    virtual double LocalOffsetAt(TDateTime local) const;
};

/// An offset between two clock readings (days) taken as whole minutes.
double WholeMinutes(double offsetDays);

/// The machine's clock and time zone.
class SystemClock final : public IClock {
public:
    TDateTime NowUTC() const override;
    TDateTime NowLocal() const override;
    /// From the time zone's rules at that date and time (summer time included); a local
    /// time that a change of clocks skips or repeats takes the offset the C library picks.
    double LocalOffsetAt(TDateTime local) const override;
};

/// A clock standing still at a given UTC date-time, with a local clock a fixed offset
/// (in days, positive east of Greenwich) from it.
class FixedClock final : public IClock {
public:
    FixedClock(TDateTime utc, double localOffsetDays) : utc_(utc), offset_(localOffsetDays) {}
    TDateTime NowUTC() const override { return utc_; }
    TDateTime NowLocal() const override { return utc_ + offset_; }

private:
    TDateTime utc_;
    double offset_;
};

/// The machine's clock with a chosen local offset (days) in place of its time zone.
class OffsetClock final : public IClock {
public:
    explicit OffsetClock(double localOffsetDays) : offset_(localOffsetDays) {}
    TDateTime NowUTC() const override;
    TDateTime NowLocal() const override { return NowUTC() + offset_; }

private:
    double offset_;
};

/// The clock in use.
const IClock& CurrentClock();

/// Puts a clock in place for the lifetime of this object, then restores the previous one.
class ScopedClock {
public:
    explicit ScopedClock(const IClock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    const IClock* previous_;
};

/// The current UTC date-time from the clock in use.
TDateTime NowUTC();
/// The current local date-time from the clock in use.
TDateTime NowLocal();

/// Milliseconds the steady clock has run since `start`: for timings, never for a date.
inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace vantorel
