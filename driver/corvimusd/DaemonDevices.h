// What corvimusd knows of input devices, apart from how it finds and opens them: a physical mouse's
// description, the devices it writes to, and the rule that says which devices are mice to take.
// The Linux side (libudev, libevdev, uinput) is in EvdevDevices.h; tests put their own devices
// behind the same interfaces.
#pragma once

#include <string>

#include "platform/MacTypes.h"
#include "settings/CorvimusDriver.h"

namespace corvimus {

// The phys string of every device corvimusd makes. Its virtual pointers copy the physical mouse's
// name and IDs, so the name cannot tell them apart from the mouse; this can.
inline constexpr char kCorvimusPhysPrefix[] = "corvimusd/";

// One physical mouse as corvimusd describes it to its clients.
struct MouseDescription {
  std::string name;         // the device's name, which is also what the product is called
  std::string vendorName;   // from the udev database when it knows one
  UInt16 bustype = 0;       // BUS_USB, BUS_BLUETOOTH, ...
  UInt16 vendor = 0;
  UInt16 product = 0;
  UInt16 version = 0;
  UInt8 buttons = 0;        // mouse buttons among its capabilities
  SInt32 resolution = 0;    // dots per inch from the hwdb's MOUSE_DPI (its default), 0 unknown
};

CorvimusDeviceInfo DeviceInfoFromDescription(const MouseDescription& mouse);

// The default resolution in a MOUSE_DPI value ("800@125", "400@125 *800@125 1600@125"): the one
// marked with '*', else the only or first one; 0 when the value says nothing usable.
SInt32 ParseMouseDpi(const char* value);

// What decides whether an input device is a mouse to take over.
struct InputDeviceFacts {
  std::string phys;
  bool udevKnown = false;  // udev has classified it (some ID_INPUT property is set)
  bool udevMouse = false;  // ID_INPUT_MOUSE
  bool udevTouchpad = false;
  bool udevTablet = false;
  bool relXY = false;      // REL_X and REL_Y
  bool buttonLeft = false;  // BTN_LEFT
  bool absolute = false;    // ABS_X: a touchpad, tablet or touch screen
  bool toolButtons = false;  // BTN_TOOL_FINGER, BTN_TOOL_PEN, BTN_TOUCH: not a mouse
  bool propDirect = false;   // INPUT_PROP_DIRECT
};

// A relative pointer with a left button that udev (when it has looked at it yet) calls a mouse and
// neither a touchpad nor a tablet, and that is not one of corvimusd's own devices.
bool IsMouseToTake(const InputDeviceFacts& facts);

// A device corvimusd writes events to. Events are kept until the frame ends (SYN_REPORT) and then
// written in one go, so a reader never sees half a frame.
class VirtualDevice {
 public:
  virtual ~VirtualDevice() = default;
  virtual void Emit(UInt16 type, UInt16 code, SInt32 value) = 0;
};

}  // namespace corvimus
