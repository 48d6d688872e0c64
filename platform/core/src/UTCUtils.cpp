#include "platform/UTCUtils.h"

#include <utility>

namespace corvimus {
namespace {

std::function<bool(timespec*)>& TestClock() {
  static std::function<bool(timespec*)> clock;
  return clock;
}

constexpr long long kNanosPerSecond = 1000000000LL;
constexpr long long kMaxSeconds = 0xFFFFFFFFFFFFLL;  // 48 bits

}  // namespace

UTCDateTime UTCDateTimeFromTimespec(const timespec& time) {
  long long seconds = static_cast<long long>(time.tv_sec) + kSecondsFrom1904To1970;
  long long nanos = time.tv_nsec;
  if (nanos < 0 || nanos >= kNanosPerSecond) {
    seconds += nanos / kNanosPerSecond;
    nanos %= kNanosPerSecond;
    if (nanos < 0) {
      nanos += kNanosPerSecond;
      --seconds;
    }
  }
  UTCDateTime date{};
  if (seconds < 0) return date;
  if (seconds > kMaxSeconds) {
    seconds = kMaxSeconds;
    nanos = kNanosPerSecond - 1;
  }
  date.highSeconds = static_cast<UInt16>(seconds >> 32);
  date.lowSeconds = static_cast<UInt32>(seconds & 0xFFFFFFFF);
  date.fraction = static_cast<UInt16>((nanos << 16) / kNanosPerSecond);
  return date;
}

timespec TimespecFromUTCDateTime(const UTCDateTime& date) {
  long long seconds = (static_cast<long long>(date.highSeconds) << 32) | date.lowSeconds;
  // Rounded up: the way back rounds down and must find the same fraction.
  long long nanos = (static_cast<long long>(date.fraction) * kNanosPerSecond + 65535) >> 16;
  timespec time{};
  time.tv_sec = static_cast<time_t>(seconds - kSecondsFrom1904To1970);
  time.tv_nsec = static_cast<long>(nanos);
  return time;
}

bool EqualUTCDateTime(const UTCDateTime& a, const UTCDateTime& b) {
  return a.highSeconds == b.highSeconds && a.lowSeconds == b.lowSeconds && a.fraction == b.fraction;
}

void SetUTCClockForTesting(std::function<bool(timespec*)> clock) {
  TestClock() = std::move(clock);
}

}  // namespace corvimus

OSErr GetUTCDateTime(UTCDateTime* utcDateTime, UInt32 options) {
  if (!utcDateTime || options != kUTCDefaultOptions) return paramErr;
  timespec now{};
  if (auto& clock = corvimus::TestClock(); clock) {
    if (!clock(&now)) return ioErr;
  } else if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
    return ioErr;
  }
  *utcDateTime = corvimus::UTCDateTimeFromTimespec(now);
  return noErr;
}
