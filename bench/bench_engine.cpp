// What the action engine costs per input event, next to handing the same events straight to the
// same output (what a driver that remapped nothing would do): for pass-through motion under the
// default record, and for clicks remapped to another button. Prints the ratios (goal: at most 3)
// and, in the per_event column, the time per input event.
#include <benchmark/benchmark.h>
#include <linux/input.h>

#include <iterator>
#include <vector>

#include "BenchRatio.h"
#include "driver/ActionEngine.h"
#include "settings/MouseSettings.h"

namespace {

using corvimus::ActionEngine;

struct Event {
  UInt16 type, code;
  SInt32 value;
};

// Takes events the way a uinput writer does: into a buffer of input events, written out (here:
// started over) when full. Both sides of a ratio write through it, out of line as a writer in a
// file of its own would be, so that neither side has the writing folded into its loop.
class BufferOutput : public corvimus::EngineOutput {
 public:
  [[gnu::noinline]] void PointerEvent(UInt16 type, UInt16 code, SInt32 value) override {
    Put(type, code, value);
  }
  [[gnu::noinline]] void KeyboardEvent(UInt16 type, UInt16 code, SInt32 value) override {
    Put(type, code, value);
  }
  void AgentRequest(const CorvimusActionRec& action) override { Put(0, action.command, 0); }
  void Report(const UInt8 (&bytes)[32]) override { Put(0, bytes[0], 0); }
  const input_event* buffer() const { return buffer_; }

 private:
  void Put(UInt16 type, UInt16 code, SInt32 value) {
    if (used_ == std::size(buffer_)) used_ = 0;
    input_event& e = buffer_[used_++];
    e.type = type;
    e.code = code;
    e.value = value;
  }
  input_event buffer_[64] = {};
  size_t used_ = 0;
};

std::vector<Event> MotionStream() {
  std::vector<Event> events;
  for (int i = 0; i < 1000; ++i) {
    events.push_back({EV_REL, REL_X, i % 7 - 3});
    events.push_back({EV_REL, REL_Y, i % 5 - 2});
    events.push_back({EV_SYN, SYN_REPORT, 0});
  }
  return events;
}

std::vector<Event> ClickStream() {
  std::vector<Event> events;
  for (int i = 0; i < 500; ++i) {
    events.push_back({EV_MSC, MSC_SCAN, 0x90001});
    events.push_back({EV_KEY, BTN_LEFT, 1});
    events.push_back({EV_SYN, SYN_REPORT, 0});
    events.push_back({EV_MSC, MSC_SCAN, 0x90001});
    events.push_back({EV_KEY, BTN_LEFT, 0});
    events.push_back({EV_SYN, SYN_REPORT, 0});
  }
  return events;
}

void SetPerEvent(benchmark::State& state, size_t events) {
  state.SetItemsProcessed(SInt64(state.iterations() * events));
  state.counters["per_event"] = benchmark::Counter(
      double(events), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void PlainCopy(benchmark::State& state, std::vector<Event> (*stream)()) {
  const std::vector<Event> events = stream();
  BufferOutput out;
  corvimus::EngineOutput* sink = &out;
  benchmark::DoNotOptimize(sink);
  for (auto _ : state) {
    for (const Event& e : events) sink->PointerEvent(e.type, e.code, e.value);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(out.buffer());
  SetPerEvent(state, events.size());
}

void Engine(benchmark::State& state, std::vector<Event> (*stream)(), bool remap) {
  const std::vector<Event> events = stream();
  BufferOutput out;
  ActionEngine engine(&out);
  CorvimusPrefsRec record = kCorvimusDefaultPrefs;
  if (remap) record.device[0].action[0].command = 34;  // the left button gives a secondary click
  engine.SetRecord(&record);
  UInt64 nowUs = 1;
  for (auto _ : state) {
    for (const Event& e : events) {
      if (e.type == EV_SYN) nowUs += 1000;
      engine.HandleEvent(e.type, e.code, e.value, nowUs);
    }
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(out.buffer());
  SetPerEvent(state, events.size());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("PlainCopy/motion", PlainCopy, MotionStream);
  benchmark::RegisterBenchmark("Engine/motion", Engine, MotionStream, false);
  benchmark::RegisterBenchmark("PlainCopy/clicks", PlainCopy, ClickStream);
  benchmark::RegisterBenchmark("Engine/remappedClicks", Engine, ClickStream, true);
  return corvimus::bench::RunWithRatios(argc, argv,
                                        {{"Engine/motion", "PlainCopy/motion", 3.0},
                                         {"Engine/remappedClicks", "PlainCopy/clicks", 3.0}});
}
