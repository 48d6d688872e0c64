// Fuzz target for reading record base files. Any byte sequence must give either a valid base or
// an error, never a crash or a read outside a block; a base that was read must also survive being
// written and read back unchanged.
//
// Built with clang -fsanitize=fuzzer when CORVIMUS_FUZZ is on; the ordinary test suite replays
// the corpus in fuzz/corpus through the same function.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Files.h"
#include "recordbase/QBase.h"

namespace {

OSErr Flip32s(void* data, SInt32 size) {
  auto* p = static_cast<unsigned char*>(data);
  for (SInt32 i = 0; i + 4 <= size; i += 4) corvimus::SwapBytesInPlace(p + i, 4);
  return noErr;
}

SInt16 OpenBytes(const uint8_t* data, size_t size) {
  int fd = memfd_create("qbase-fuzz", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    ssize_t w = write(fd, data + done, size - done);
    if (w <= 0) std::abort();
    done += size_t(w);
  }
  SInt16 ref = 0;
  if (FSOpenDescriptor(fd, fsRdWrPerm, &ref) != noErr) std::abort();
  return ref;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

// Records of both bases, compared byte for byte with their flags.
bool SameRecords(QBaseHandle a, QBaseHandle b) {
  if (QBaseCountRecords(a) != QBaseCountRecords(b)) return false;
  for (SInt32 i = 0; i < QBaseCountRecords(a); ++i) {
    SInt32 sa = 0, sb = 0;
    void* pa = QBaseGetRecord(a, i, &sa);
    void* pb = QBaseGetRecord(b, i, &sb);
    if (!pa || !pb || sa != sb || std::memcmp(pa, pb, size_t(sa)) != 0) return false;
    if (QBaseGetRecordFlags(a, i) != QBaseGetRecordFlags(b, i)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SInt16 ref = OpenBytes(data, size);
  const OSType types[] = {FourCC("CvBa"), FourCC("TEST")};
  for (int variant = 0; variant < 8; ++variant) {
    QBaseHandle base = QBaseNew(types[variant & 1], variant & 1 ? 1 : 0x1100, 4);
    Check(base != nullptr);
    if (variant & 2) QBaseSetFlipProc(base, Flip32s, Flip32s);
    // Half of the reads append to a base that already holds a record.
    bool append = variant & 4;
    if (append) Check(QBaseAddRecord(base, "kept", 4) == 0);
    for (SInt16 recover = 0; recover < 2; ++recover) {
      SInt16 repaired = -1;
      OSErr err = QBaseReadRebuild(base, ref, 1, 1, 1, !append, 0, recover, &repaired);
      Check(repaired == 0 || repaired == 1);
      Check(QBaseValidate(base) == 1);
      if (err != noErr && append) {
        // A failed appending read keeps the record the base had.
        SInt32 s = 0;
        void* p = QBaseGetRecord(base, 0, &s);
        Check(p && s == 4 && std::memcmp(p, "kept", 4) == 0);
      }
      if (err == noErr && !append) {
        // Whatever was read writes and reads back the same.
        int fd = memfd_create("qbase-fuzz-out", MFD_CLOEXEC);
        Check(fd >= 0);
        SInt16 out = 0;
        Check(FSOpenDescriptor(fd, fsRdWrPerm, &out) == noErr);
        Check(QBaseWrite(base, out, 1, 1) == noErr);
        QBaseHandle again = QBaseNew(types[variant & 1], variant & 1 ? 1 : 0x1100, 4);
        Check(QBaseRead(again, out, 1, 1, 1, 1) == noErr);
        Check(SameRecords(base, again));
        QBaseDispose(again);
        FSClose(out);
      }
    }
    QBaseDispose(base);
  }
  FSClose(ref);
  return 0;
}
