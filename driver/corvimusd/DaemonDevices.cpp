#include "DaemonDevices.h"

#include <linux/input.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvimus {

CorvimusDeviceInfo DeviceInfoFromDescription(const MouseDescription& mouse) {
  CorvimusDeviceInfo info{};
  info.transport =
      mouse.bustype == BUS_BLUETOOTH ? kCorvimusTransportBluetooth : kCorvimusTransportOther;
  info.numButtons = mouse.buttons;
  info.vendorID = mouse.vendor;
  info.productID = mouse.product;
  info.productVers = mouse.version;
  info.resolution = mouse.resolution;
  std::snprintf(info.vendorName, sizeof info.vendorName, "%s", mouse.vendorName.c_str());
  std::snprintf(info.productName, sizeof info.productName, "%s", mouse.name.c_str());
  return info;
}

SInt32 ParseMouseDpi(const char* value) {
  if (!value) return 0;
  long first = 0, marked = 0;
  const char* p = value;
  while (*p) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    bool star = *p == '*';
    if (star) ++p;
    char* end = nullptr;
    long dpi = std::strtol(p, &end, 10);
    if (end == p || dpi <= 0 || dpi > 1000000) return marked ? marked : first;
    if (!first) first = dpi;
    if (star && !marked) marked = dpi;
    p = end;
    while (*p && *p != ' ' && *p != '\t') ++p;  // the "@rate" part
  }
  return static_cast<SInt32>(marked ? marked : first);
}

bool IsMouseToTake(const InputDeviceFacts& facts) {
  if (facts.phys.compare(0, std::strlen(kCorvimusPhysPrefix), kCorvimusPhysPrefix) == 0)
    return false;
  if (!facts.relXY || !facts.buttonLeft) return false;
  if (facts.udevKnown)
    return facts.udevMouse && !facts.udevTouchpad && !facts.udevTablet;
  // Not classified by udev yet: the capabilities alone decide.
  return !facts.absolute && !facts.toolButtons && !facts.propDirect;
}

}  // namespace corvimus
