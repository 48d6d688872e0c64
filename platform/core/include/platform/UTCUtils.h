// UTC dates as the File Manager keeps them: seconds since 1 January 1904 00:00 UTC in 48 bits
// (highSeconds, lowSeconds) and a fraction of a second in units of 1/65536.
//
// Linux keeps file times as struct timespec (seconds since 1970 and nanoseconds). A UTCDateTime
// turned into a timespec and back is the same UTCDateTime: the nanoseconds are rounded up, so that
// rounding down again on the way back lands on the same fraction. Times before 1904 come out as
// 1904.
#pragma once

#include <time.h>

#include <functional>

#include "platform/MacTypes.h"

struct UTCDateTime {
  UInt16 highSeconds;
  UInt32 lowSeconds;
  UInt16 fraction;
};

enum : UInt32 { kUTCDefaultOptions = 0 };

// The current time. paramErr for a null output or options other than kUTCDefaultOptions.
OSErr GetUTCDateTime(UTCDateTime* utcDateTime, UInt32 options);

namespace corvimus {

// Seconds between 1904-01-01 and 1970-01-01.
inline constexpr long long kSecondsFrom1904To1970 = 2082844800LL;

UTCDateTime UTCDateTimeFromTimespec(const timespec& time);
timespec TimespecFromUTCDateTime(const UTCDateTime& date);
bool EqualUTCDateTime(const UTCDateTime& a, const UTCDateTime& b);

// Test seam: with a clock set, GetUTCDateTime reads it instead of the system's real-time clock; a
// clock that answers false makes GetUTCDateTime fail with ioErr. An empty function restores the
// real clock.
void SetUTCClockForTesting(std::function<bool(timespec*)> clock);

}  // namespace corvimus
