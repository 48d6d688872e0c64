#include "ButtonReport.h"

#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace {

// The report is little-endian whatever the machine.
UInt16 LoadU16LE(const UInt8* p) {
  return UInt16(p[0] | (p[1] << 8));
}
UInt32 LoadU32LE(const UInt8* p) {
  return UInt32(p[0]) | (UInt32(p[1]) << 8) | (UInt32(p[2]) << 16) | (UInt32(p[3]) << 24);
}

}  // namespace

bool DecodeButtonReport(const UInt8* bytes, size_t size, ButtonReport* report) {
  if (!bytes || !report || size < kCorvimusReportSize) return false;
  if (bytes[0] != kCorvimusReportVersion) return false;
  UInt8 kind = bytes[1];
  int slot = bytes[2];
  bool slotFits = (kind == kCorvimusReportButton && slot <= 7) ||
                  (kind == kCorvimusReportWheel && (slot == kSlotRF || slot == kSlotRB)) ||
                  (kind == kCorvimusReportTilt && (slot == kSlotPF || slot == kSlotPB));
  if (!slotFits) return false;
  ButtonReport r;
  r.kind = kind;
  r.slot = slot;
  r.highResolution = (bytes[3] & kCorvimusReportHiRes) != 0;
  r.eventType = LoadU16LE(bytes + 4);
  r.eventCode = LoadU16LE(bytes + 6);
  r.value = SInt32(LoadU32LE(bytes + 8));
  r.buttonsDown = LoadU16LE(bytes + 12);
  r.timeUs = UInt64(LoadU32LE(bytes + 16)) | (UInt64(LoadU32LE(bytes + 20)) << 32);
  r.sequence = LoadU32LE(bytes + 24);
  *report = r;
  return true;
}
