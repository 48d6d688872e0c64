// corvimusd's devices on Linux: mice found and followed with libudev, opened and grabbed with
// libevdev, and virtual devices made through uinput.
//
// A physical mouse's virtual pointer copies its identity (name, vendor, product, version, bus,
// properties, axes with their resolution), so the desktop's per-device settings and the hwdb's
// entries (MOUSE_DPI) keep applying; only its phys string differs, which marks it as ours. Besides
// what the mouse has, it can send the buttons and wheels every action may use. The grab goes with the
// descriptor: when corvimusd dies, the kernel lets go of the mouse and nothing stays held.
#pragma once

#include <linux/input.h>

#include <memory>
#include <string>
#include <vector>

#include "DaemonDevices.h"

struct libevdev;
struct libevdev_uinput;
struct udev;
struct udev_device;
struct udev_monitor;

namespace corvimus {

class UinputDevice : public VirtualDevice {
 public:
  ~UinputDevice() override;
  // A virtual pointer with the identity of source and the phys string given. *err: negative errno.
  static std::unique_ptr<UinputDevice> PointerLike(const libevdev* source, const std::string& phys,
                                                   int* err);
  // The shared virtual keyboard: every key a keystroke may need.
  static std::unique_ptr<UinputDevice> Keyboard(int* err);
  void Emit(UInt16 type, UInt16 code, SInt32 value) override;
  const char* DevNode() const;

 private:
  UinputDevice(libevdev_uinput* device, int fd) : device_(device), fd_(fd) {}
  // Makes the device described by dev (which it frees) with the phys string given.
  static std::unique_ptr<UinputDevice> Create(libevdev* dev, const std::string& phys, int* err);
  libevdev_uinput* device_;
  int fd_;
  std::vector<input_event> pending_;
};

// One grabbed physical mouse.
class EvdevMouse {
 public:
  ~EvdevMouse();
  // Opens the event device; null when it is not a mouse to take (*why empty) or when it is one
  // that cannot be had (*why says why).
  static std::unique_ptr<EvdevMouse> Open(udev_device* device, std::string* why);
  int Descriptor() const { return fd_; }
  const libevdev* Device() const { return dev_; }
  const MouseDescription& Description() const { return description_; }
  const std::string& SysPath() const { return syspath_; }
  // Takes every event waiting, handing each to sink(context, event). Returns false when the device
  // is gone. After the kernel dropped events (its buffer overran), the broken frame is skipped and
  // the buttons whose state changed meanwhile are reported as one frame.
  bool Read(void (*sink)(void* context, const input_event& event), void* context);

 private:
  EvdevMouse() = default;
  int fd_ = -1;
  libevdev* dev_ = nullptr;
  MouseDescription description_;
  std::string syspath_;
  UInt8 keys_[KEY_CNT / 8 + 1] = {};  // the buttons down, as far as the events passed on say
  bool dropping_ = false;
};

// Sets or clears one bit of an evdev bit mask.
void SetBit(UInt8* bits, unsigned code, bool on);
// The key events (and a closing SYN_REPORT when there is any) that take the state `passed` to
// `now`, each of size bytes; `passed` is brought up to date.
void ResyncButtons(UInt8* passed, const UInt8* now, size_t size,
                   void (*sink)(void* context, const input_event& event), void* context);

// The input devices there are and those that come and go.
class UdevInputWatcher {
 public:
  ~UdevInputWatcher();
  // Watches udev's events (or the kernel's, where no udev daemon runs). False when libudev cannot
  // start.
  bool Start();
  int Descriptor() const;
  // Every event device present now (references the caller drops with udev_device_unref).
  std::vector<udev_device*> Present();
  // The next change, or null; *added tells whether it came or went.
  udev_device* Receive(bool* added);

 private:
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

// The facts IsMouseToTake decides on, from udev's properties and the device's capabilities.
InputDeviceFacts FactsOf(udev_device* device, const libevdev* dev);

}  // namespace corvimus
