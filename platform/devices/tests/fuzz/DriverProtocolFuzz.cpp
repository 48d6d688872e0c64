// libFuzzer target for the driver frame decoder. Built as a fuzzer with clang when
// CORVIMUS_FUZZ is on; the ordinary test suite replays the corpus beside it.
#include <cstdint>
#include <cstdlib>

#include "platform/DriverProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (corvimus::CheckDriverFrameRoundTrip(data, size) != 0) std::abort();
  return 0;
}
