#include "driver/DriverCalls.h"

#include <cstring>

#include "platform/IOKit.h"

namespace corvimus {

SInt32 ParseCorvimusCall(const DriverCallRequest& call, CorvimusCall* out) {
  if (call.scalarCount < 2) return kIOReturnBadArgument;
  OSType code = static_cast<OSType>(call.scalars[1]);
  static const std::vector<UInt8> kNone;
  const std::vector<UInt8>& in = call.structIn ? *call.structIn : kNone;
  switch (call.selector) {
    case kCorvimusSelectorSetPrefs:
      if (code != kCorvimusSetPrefsCode) return kIOReturnUnsupported;
      if (call.scalarCount < 3 || call.scalars[2] != kCorvimusSetPrefsVersion)
        return kIOReturnBadArgument;
      if (in.size() != sizeof(CorvimusPrefsRec)) return kIOReturnBadArgument;
      out->kind = CorvimusCallKind::SetPrefs;
      std::memcpy(&out->record, in.data(), sizeof out->record);
      return kIOReturnSuccess;
    case kCorvimusSelectorScalar:
      if (call.scalarCount < 3 || !in.empty()) return kIOReturnBadArgument;
      if (code == kCorvimusOwnAppModeCode) {
        out->kind = CorvimusCallKind::OwnAppMode;
        out->value = call.scalars[2] != 0;
      } else if (code == kCorvimusKeystrokeCode) {
        out->kind = CorvimusCallKind::Keystroke;
        out->value = static_cast<UInt32>(call.scalars[2]);
      } else {
        return kIOReturnUnsupported;
      }
      return kIOReturnSuccess;
    case kCorvimusSelectorDeviceInfo:
      if (code != kCorvimusDeviceInfoCode) return kIOReturnUnsupported;
      if (call.scalarCount < 3 || call.scalars[2] != kCorvimusDeviceInfoSelector)
        return kIOReturnBadArgument;
      if (call.structOutSize != sizeof(CorvimusDeviceInfo) || !in.empty())
        return kIOReturnBadArgument;
      out->kind = CorvimusCallKind::DeviceInfo;
      return kIOReturnSuccess;
    default:
      return kIOReturnUnsupported;
  }
}

void ReplyToCorvimusCall(const DriverCallRequest& request, const CorvimusCall& call,
                         const CorvimusDeviceInfo& info, DriverCallResult* result) {
  if (call.kind == CorvimusCallKind::OwnAppMode || call.kind == CorvimusCallKind::Keystroke) {
    if (request.scalarOutWanted >= 1) {
      result->scalarCount = 1;
      result->scalars[0] = 0;
    }
  } else if (call.kind == CorvimusCallKind::DeviceInfo) {
    const auto* bytes = reinterpret_cast<const UInt8*>(&info);
    result->structOut.assign(bytes, bytes + sizeof info);
  }
}

}  // namespace corvimus
