// Loading the settings file as the pane and the agent do (LoadMouseSettings: folder look-up, open,
// read with validation, close) for files of 1, 100 and 10,000 records, against a plain open, read
// and close of the same bytes. A file in the other byte order adds the flip of every record.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchRatio.h"
#include "platform/ByteOrder.h"
#include "platform/Files.h"
#include "recordbase/QBase.h"
#include "settings/MouseSettings.h"

namespace {

std::string Folder() {
  static std::string folder = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string f = std::string(dir && *dir ? dir : "/tmp") + "/corvimus-bench-settings-" +
                    std::to_string(getpid());
    mkdir(f.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", f.c_str(), 1);
    return f;
  }();
  return folder;
}

std::string FileName(int records, bool big) {
  return "settings-" + std::to_string(records) + (big ? "-big" : "");
}

void PascalName(const std::string& name, Str255 out) {
  out[0] = UInt8(name.size());
  std::memcpy(out + 1, name.data(), name.size());
}

// Writes a settings file of `records` records (the global one and applications) once per run.
void MakeFile(int records, bool big) {
  std::string path = Folder() + "/" + FileName(records, big);
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return;
  QBaseHandle base = NewMouseSettingsBase(256);
  for (int i = 0; i < records; ++i) {
    CorvimusPrefsRec r = kCorvimusDefaultPrefs;
    if (i > 0) {
      r.application = FourCC("ap00") + UInt32(i);
      r.appName[0] = 8;
      std::memcpy(r.appName + 1, "App name", 8);
      r.device[0].action[5].command = 24;
      r.device[0].action[5].modifiers = cmdKey;
    }
    // Stored in the other byte order: each record is swapped here and read back swapped.
    if (big) FlipCorvimusPrefsRec(&r, kCorvimusPrefsRecSize);
    QBaseAddRecord(base, &r, kCorvimusPrefsRecSize);
  }
  Str255 name;
  PascalName(FileName(records, big), name);
  SaveMouseSettings(base, name, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
  QBaseDispose(base);
  if (big) {
    // Turn the little-endian file into the same base as a big-endian machine writes it.
    std::string bytes;
    {
      int fd = open(path.c_str(), O_RDONLY);
      bytes.resize(size_t(lseek(fd, 0, SEEK_END)));
      pread(fd, bytes.data(), bytes.size(), 0);
      close(fd);
    }
    auto* b = reinterpret_cast<unsigned char*>(bytes.data());
    for (int at : {0, 4, 12, 16, 20, 24, 32, 36, 40, 56, 60}) corvimus::SwapBytesInPlace(b + at, 4);
    for (int at : {8, 10, 28, 30, 44, 46, 48, 50, 52, 54}) corvimus::SwapBytesInPlace(b + at, 2);
    size_t index = 64, area = 64 + 4 * size_t(records);
    for (int i = 0; i < records; ++i) corvimus::SwapBytesInPlace(b + index + 4 * size_t(i), 4);
    for (size_t at = area; at < bytes.size(); at += 1022) {
      corvimus::SwapBytesInPlace(b + at, 4);
      corvimus::SwapBytesInPlace(b + at + 4, 4);
      corvimus::SwapBytesInPlace(b + at + 8, 2);
    }
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    pwrite(fd, bytes.data(), bytes.size(), 0);
    close(fd);
  }
}

void Load(benchmark::State& state, bool big) {
  int records = int(state.range(0));
  MakeFile(records, big);
  QBaseHandle base = NewMouseSettingsBase(4);
  Str255 name;
  for (auto _ : state) {
    PascalName(FileName(records, big), name);
    CorvimusPrefsRec defaults = kCorvimusDefaultPrefs;
    if (LoadMouseSettings(base, name, &defaults) != noErr) state.SkipWithError("load failed");
  }
  if (QBaseCountRecords(base) != records) state.SkipWithError("wrong record count");
  state.SetItemsProcessed(int64_t(state.iterations()) * records);
  QBaseDispose(base);
}

void BM_LoadMouseSettings(benchmark::State& state) {
  Load(state, false);
}
void BM_LoadMouseSettingsBigEndian(benchmark::State& state) {
  Load(state, true);
}

void BM_PlainRead(benchmark::State& state) {
  int records = int(state.range(0));
  MakeFile(records, false);
  std::string path = Folder() + "/" + FileName(records, false);
  std::vector<char> buffer;
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) state.SkipWithError("open failed");
    buffer.resize(size_t(st.st_size));
    if (pread(fd, buffer.data(), buffer.size(), 0) != ssize_t(buffer.size()))
      state.SkipWithError("read failed");
    close(fd);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * records);
}

BENCHMARK(BM_LoadMouseSettings)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadMouseSettingsBigEndian)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainRead)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  int rc = corvimus::bench::RunWithRatios(
      argc, argv,
      {{"BM_LoadMouseSettings/1", "BM_PlainRead/1", 8.0},
       {"BM_LoadMouseSettings/100", "BM_PlainRead/100", 4.0},
       {"BM_LoadMouseSettings/10000", "BM_PlainRead/10000", 2.0},
       {"BM_LoadMouseSettingsBigEndian/10000", "BM_PlainRead/10000", 3.0}});
  std::string folder = Folder();
  std::string command = "rm -rf '" + folder + "'";
  if (folder.find('\'') == std::string::npos) std::system(command.c_str());
  return rc;
}
