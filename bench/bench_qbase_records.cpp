// Removing 10% marked records at 10^5 and 10^6 records (the larger should cost about ten times
// the smaller), and adding 10^5 records with index growth steps of 4 and 256.
#include <vector>

#include "BenchRatio.h"
#include "recordbase/QBase.h"

namespace {

QBaseHandle MakeBase(int n, SInt16 growBy) {
  QBaseHandle base = QBaseNew(FourCC("CvBa"), 0x1100, growBy);
  char rec[24] = {};
  for (int i = 0; i < n; ++i) {
    rec[0] = char(i);
    rec[1] = char(i >> 8);
    QBaseAddRecord(base, rec, 8 + i % 16);
  }
  return base;
}

// Evicts the caches by touching a buffer larger than any of them, so that both sizes start from
// memory: the 10^5 base (about 3 MB) otherwise runs from cache while the 10^6 base cannot.
void EvictCaches() {
  static std::vector<char> junk(size_t(128) << 20);
  for (size_t i = 0; i < junk.size(); i += 64) junk[i]++;
  benchmark::ClobberMemory();
}

void BM_RemoveMarked(benchmark::State& state) {
  const int n = int(state.range(0));
  const bool cold = state.range(1) != 0;
  QBaseHandle pristine = MakeBase(n, 256);
  QBaseHandle work = QBaseNew(FourCC("CvBa"), 0x1100, 256);
  for (auto _ : state) {
    state.PauseTiming();
    QBaseDuplicate(pristine, work);
    for (int i = 0; i < n; i += 10) QBaseMarkRecordForRemoval(work, i);
    if (cold) EvictCaches();
    state.ResumeTiming();
    QBaseRemoveMarkedRecords(work);
  }
  if (QBaseCountRecords(work) != n - (n + 9) / 10) state.SkipWithError("wrong count");
  QBaseDispose(work);
  QBaseDispose(pristine);
}

void BM_AddRecords(benchmark::State& state) {
  const SInt16 growBy = SInt16(state.range(0));
  char rec[64] = {};
  for (auto _ : state) {
    QBaseHandle base = QBaseNew(FourCC("CvBa"), 0x1100, growBy);
    for (int i = 0; i < 100000; ++i) QBaseAddRecord(base, rec, 8 + i % 48);
    benchmark::DoNotOptimize(QBaseCountRecords(base));
    QBaseDispose(base);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 100000);
}

BENCHMARK(BM_RemoveMarked)
    ->Args({100000, 0})
    ->Args({1000000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddRecords)->Arg(4)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return corvimus::bench::RunWithRatios(
      argc, argv,
      {{"BM_RemoveMarked/1000000/1", "BM_RemoveMarked/100000/1", 12.0},
       {"BM_RemoveMarked/1000000/0", "BM_RemoveMarked/100000/0", 12.0},
       {"BM_AddRecords/4", "BM_AddRecords/256", 1.5}});
}
