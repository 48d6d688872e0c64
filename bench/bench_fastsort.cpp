// FastQSort of 4-byte index entries with an indirect comparison (each entry is the offset of a
// record whose key is compared), against std::sort of the same entries with the same comparison.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "BenchRatio.h"
#include "platform/ByteOrder.h"
#include "recordbase/FastSort.h"

namespace {

constexpr int kRecordSize = 16;
const char* gRecords = nullptr;

SInt32 CompareRecords(const void* a, const void* b) {
  SInt32 ea = corvimus::LoadNative<SInt32>(a), eb = corvimus::LoadNative<SInt32>(b);
  UInt32 ka = corvimus::LoadNative<UInt32>(gRecords + ea);
  UInt32 kb = corvimus::LoadNative<UInt32>(gRecords + eb);
  return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

struct Data {
  std::vector<char> records;
  std::vector<SInt32> entries;  // shuffled offsets
};

const Data& DataFor(int n) {
  static std::map<int, Data> cache;
  Data& d = cache[n];
  if (d.entries.empty()) {
    std::mt19937 rng(42);
    d.records.resize(size_t(n) * kRecordSize);
    for (int i = 0; i < n; ++i) {
      UInt32 key = rng();
      std::memcpy(&d.records[size_t(i) * kRecordSize], &key, 4);
      d.entries.push_back(i * kRecordSize);
    }
    std::shuffle(d.entries.begin(), d.entries.end(), rng);
  }
  return d;
}

void BM_FastQSort(benchmark::State& state) {
  const Data& d = DataFor(int(state.range(0)));
  gRecords = d.records.data();
  std::vector<SInt32> work(d.entries.size());
  for (auto _ : state) {
    std::memcpy(work.data(), d.entries.data(), work.size() * 4);
    FastQSort(work.data(), SInt32(work.size()), 4, CompareRecords);
    benchmark::DoNotOptimize(work.data());
  }
  if (!std::is_sorted(work.begin(), work.end(),
                      [](SInt32 a, SInt32 b) { return CompareRecords(&a, &b) < 0; }))
    state.SkipWithError("not sorted");
}

void BM_StdSort(benchmark::State& state) {
  const Data& d = DataFor(int(state.range(0)));
  gRecords = d.records.data();
  std::vector<SInt32> work(d.entries.size());
  for (auto _ : state) {
    std::memcpy(work.data(), d.entries.data(), work.size() * 4);
    std::sort(work.begin(), work.end(),
              [](SInt32 a, SInt32 b) { return CompareRecords(&a, &b) < 0; });
    benchmark::DoNotOptimize(work.data());
  }
}

BENCHMARK(BM_FastQSort)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdSort)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return corvimus::bench::RunWithRatios(argc, argv,
                                        {{"BM_FastQSort/100000", "BM_StdSort/100000", 1.5},
                                         {"BM_FastQSort/1000000", "BM_StdSort/1000000", 1.5}});
}
