// Writing and reading back (with validation) a base of 10,000 settings-sized records, against a
// plain write, flush and read of the same number of bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "platform/Files.h"
#include "recordbase/QBase.h"

namespace {

constexpr int kRecords = 10000;
constexpr int kRecordSize = 1012;

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/corvimus-bench-" + std::to_string(getpid()) +
         "-" + name;
}

QBaseHandle MakeBase() {
  QBaseHandle base = QBaseNew(FourCC("CvBa"), 0x1100, 4);
  std::vector<char> rec(kRecordSize);
  for (int i = 0; i < kRecords; ++i) {
    for (int j = 0; j < kRecordSize; ++j) rec[size_t(j)] = char(i + j);
    QBaseAddRecord(base, rec.data(), kRecordSize);
  }
  return base;
}

void BM_QBaseWriteRead(benchmark::State& state) {
  QBaseHandle base = MakeBase();
  QBaseHandle back = QBaseNew(FourCC("CvBa"), 0x1100, 4);
  std::string path = TempPath("qbase");
  SInt16 ref = 0;
  FSCreateOpenPath(path.c_str(), &ref);
  for (auto _ : state) {
    if (QBaseWrite(base, ref, 1, 1) != noErr) state.SkipWithError("write failed");
    if (QBaseRead(back, ref, 1, 1, 0, 1) != noErr) state.SkipWithError("read failed");
  }
  if (QBaseCountRecords(back) != kRecords) state.SkipWithError("wrong count");
  SInt32 eof = 0;
  GetEOF(ref, &eof);
  state.SetBytesProcessed(int64_t(state.iterations()) * eof * 2);
  FSClose(ref);
  unlink(path.c_str());
  QBaseDispose(back);
  QBaseDispose(base);
}

void BM_PlainWriteRead(benchmark::State& state) {
  // The same file size as the base: header, index and record slots.
  const size_t size = 64 + size_t(kRecords) * (4 + 10 + kRecordSize);
  std::vector<char> data(size, 'x');
  std::string path = TempPath("plain");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  for (auto _ : state) {
    if (ftruncate(fd, off_t(size)) != 0 || pwrite(fd, data.data(), size, 0) != ssize_t(size) ||
        fsync(fd) != 0)
      state.SkipWithError("write failed");
    std::vector<char> in(size);
    if (pread(fd, in.data(), size, 0) != ssize_t(size)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(in.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size) * 2);
  close(fd);
  unlink(path.c_str());
}

BENCHMARK(BM_QBaseWriteRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWriteRead)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return corvimus::bench::RunWithRatios(argc, argv,
                                        {{"BM_QBaseWriteRead", "BM_PlainWriteRead", 2.0}});
}
