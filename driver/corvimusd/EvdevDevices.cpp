#include "EvdevDevices.h"

#include <errno.h>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace corvimus {

namespace {

// Whatever an action may make a pointer do, beyond what the mouse itself has.
constexpr UInt16 kPointerButtons[] = {BTN_LEFT,    BTN_RIGHT, BTN_MIDDLE, BTN_SIDE,    BTN_EXTRA,
                                      BTN_FORWARD, BTN_BACK,  BTN_TASK,   BTN_TASK + 1};
constexpr UInt16 kPointerAxes[] = {REL_X, REL_Y, REL_WHEEL, REL_HWHEEL};

bool PropertyIs(udev_device* device, const char* key) {
  const char* value = udev_device_get_property_value(device, key);
  return value && std::strcmp(value, "1") == 0;
}

}  // namespace

UinputDevice::~UinputDevice() {
  if (device_) libevdev_uinput_destroy(device_);
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<UinputDevice> UinputDevice::Create(libevdev* dev, const std::string& phys,
                                                   int* err) {
  // libevdev leaves the phys string out when it opens /dev/uinput itself, and the phys string is
  // what tells corvimusd's own devices from the mice: it is set here, before the device is made.
  int fd = open("/dev/uinput", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    *err = -errno;
    libevdev_free(dev);
    return nullptr;
  }
  libevdev_uinput* uidev = nullptr;
  *err = ioctl(fd, UI_SET_PHYS, phys.c_str()) < 0 ? -errno : 0;
  if (*err == 0) *err = libevdev_uinput_create_from_device(dev, fd, &uidev);
  libevdev_free(dev);
  if (*err != 0) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<UinputDevice>(new UinputDevice(uidev, fd));
}

std::unique_ptr<UinputDevice> UinputDevice::PointerLike(const libevdev* source,
                                                        const std::string& phys, int* err) {
  libevdev* dev = libevdev_new();
  if (!dev) {
    *err = -ENOMEM;
    return nullptr;
  }
  libevdev_set_name(dev, libevdev_get_name(source));
  if (const char* uniq = libevdev_get_uniq(source)) libevdev_set_uniq(dev, uniq);
  libevdev_set_id_bustype(dev, libevdev_get_id_bustype(source));
  libevdev_set_id_vendor(dev, libevdev_get_id_vendor(source));
  libevdev_set_id_product(dev, libevdev_get_id_product(source));
  libevdev_set_id_version(dev, libevdev_get_id_version(source));
  for (unsigned prop = 0; prop <= INPUT_PROP_MAX; ++prop)
    if (libevdev_has_property(source, prop)) libevdev_enable_property(dev, prop);
  for (unsigned type : {EV_KEY, EV_REL, EV_ABS, EV_MSC}) {
    if (!libevdev_has_event_type(source, type)) continue;
    int max = libevdev_event_type_get_max(type);
    for (int code = 0; code <= max; ++code) {
      if (!libevdev_has_event_code(source, type, code)) continue;
      const void* data = type == EV_ABS ? libevdev_get_abs_info(source, code) : nullptr;
      libevdev_enable_event_code(dev, type, code, data);
    }
  }
  for (UInt16 code : kPointerButtons) libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
  for (UInt16 code : kPointerAxes) libevdev_enable_event_code(dev, EV_REL, code, nullptr);
  // A desktop that sees high-resolution wheel codes ignores the classic ones, so the second wheel
  // gets them only when the mouse's own wheel has them.
  if (libevdev_has_event_code(source, EV_REL, REL_WHEEL_HI_RES))
    libevdev_enable_event_code(dev, EV_REL, REL_HWHEEL_HI_RES, nullptr);
  return Create(dev, phys, err);
}

std::unique_ptr<UinputDevice> UinputDevice::Keyboard(int* err) {
  libevdev* dev = libevdev_new();
  if (!dev) {
    *err = -ENOMEM;
    return nullptr;
  }
  libevdev_set_name(dev, "Corvimus virtual keyboard");
  libevdev_set_id_bustype(dev, BUS_VIRTUAL);
  for (unsigned code = KEY_ESC; code <= KEY_MICMUTE; ++code)
    libevdev_enable_event_code(dev, EV_KEY, code, nullptr);
  return Create(dev, std::string(kCorvimusPhysPrefix) + "keyboard", err);
}

void UinputDevice::Emit(UInt16 type, UInt16 code, SInt32 value) {
  input_event event{};
  event.type = type;
  event.code = code;
  event.value = value;
  pending_.push_back(event);
  if (type != EV_SYN || code != SYN_REPORT) return;
  // One write per frame: the kernel takes the whole frame at once.
  const char* bytes = reinterpret_cast<const char*>(pending_.data());
  size_t size = pending_.size() * sizeof(input_event), done = 0;
  while (done < size) {
    ssize_t n = write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  pending_.clear();
}

const char* UinputDevice::DevNode() const {
  return libevdev_uinput_get_devnode(device_);
}

EvdevMouse::~EvdevMouse() {
  if (dev_) {
    libevdev_grab(dev_, LIBEVDEV_UNGRAB);
    libevdev_free(dev_);
  }
  if (fd_ >= 0) close(fd_);
}

InputDeviceFacts FactsOf(udev_device* device, const libevdev* dev) {
  InputDeviceFacts facts;
  if (const char* phys = libevdev_get_phys(dev)) facts.phys = phys;
  facts.udevKnown = PropertyIs(device, "ID_INPUT");
  facts.udevMouse = PropertyIs(device, "ID_INPUT_MOUSE");
  facts.udevTouchpad = PropertyIs(device, "ID_INPUT_TOUCHPAD");
  facts.udevTablet = PropertyIs(device, "ID_INPUT_TABLET");
  facts.relXY = libevdev_has_event_code(dev, EV_REL, REL_X) &&
                libevdev_has_event_code(dev, EV_REL, REL_Y);
  facts.buttonLeft = libevdev_has_event_code(dev, EV_KEY, BTN_LEFT);
  facts.absolute = libevdev_has_event_code(dev, EV_ABS, ABS_X);
  facts.toolButtons = libevdev_has_event_code(dev, EV_KEY, BTN_TOOL_FINGER) ||
                      libevdev_has_event_code(dev, EV_KEY, BTN_TOOL_PEN) ||
                      libevdev_has_event_code(dev, EV_KEY, BTN_TOUCH);
  facts.propDirect = libevdev_has_property(dev, INPUT_PROP_DIRECT);
  return facts;
}

std::unique_ptr<EvdevMouse> EvdevMouse::Open(udev_device* device, std::string* why) {
  const char* node = udev_device_get_devnode(device);
  const char* sysname = udev_device_get_sysname(device);
  why->clear();
  if (!node || !sysname || std::strncmp(sysname, "event", 5) != 0) return nullptr;
  // What udev has already ruled out (keyboards above all) is not even opened.
  if (PropertyIs(device, "ID_INPUT") && !PropertyIs(device, "ID_INPUT_MOUSE")) return nullptr;
  std::unique_ptr<EvdevMouse> mouse(new EvdevMouse);
  mouse->syspath_ = udev_device_get_syspath(device);
  mouse->fd_ = open(node, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (mouse->fd_ < 0) {
    *why = std::string("cannot open it: ") + std::strerror(errno);
    return nullptr;
  }
  int err = libevdev_new_from_fd(mouse->fd_, &mouse->dev_);
  if (err < 0) {
    mouse->dev_ = nullptr;
    *why = std::string("cannot read it: ") + std::strerror(-err);
    return nullptr;
  }
  if (!IsMouseToTake(FactsOf(device, mouse->dev_))) return nullptr;
  // A mouse someone else holds is left to them: taking its events too would double them.
  err = libevdev_grab(mouse->dev_, LIBEVDEV_GRAB);
  if (err < 0) {
    *why = std::string("cannot grab it: ") + std::strerror(-err);
    return nullptr;
  }
  MouseDescription& d = mouse->description_;
  d.name = libevdev_get_name(mouse->dev_);
  d.bustype = static_cast<UInt16>(libevdev_get_id_bustype(mouse->dev_));
  d.vendor = static_cast<UInt16>(libevdev_get_id_vendor(mouse->dev_));
  d.product = static_cast<UInt16>(libevdev_get_id_product(mouse->dev_));
  d.version = static_cast<UInt16>(libevdev_get_id_version(mouse->dev_));
  for (unsigned code = BTN_MOUSE; code < BTN_JOYSTICK; ++code)
    if (libevdev_has_event_code(mouse->dev_, EV_KEY, code)) ++d.buttons;
  for (const char* key : {"ID_VENDOR_FROM_DATABASE", "ID_VENDOR"}) {
    const char* v = udev_device_get_property_value(device, key);
    if (v && *v) {
      d.vendorName = v;
      break;
    }
  }
  d.resolution = ParseMouseDpi(udev_device_get_property_value(device, "MOUSE_DPI"));
  return mouse;
}

bool EvdevMouse::Read(void (*sink)(void* context, const input_event& event), void* context) {
  // Plain reads rather than libevdev's: one system call per frame is the whole of the added
  // latency worth having, and a mouse's only state worth restoring after a gap is its buttons.
  input_event events[64];
  for (;;) {
    ssize_t n = read(fd_, events, sizeof events);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0) return false;
    size_t count = static_cast<size_t>(n) / sizeof(input_event);
    for (size_t i = 0; i < count; ++i) {
      const input_event& e = events[i];
      if (e.type == EV_SYN && e.code == SYN_DROPPED) {
        dropping_ = true;  // the rest of the broken frame is worth nothing
        continue;
      }
      if (dropping_) {
        if (e.type == EV_SYN && e.code == SYN_REPORT) {
          dropping_ = false;
          UInt8 now[sizeof keys_] = {};
          if (ioctl(fd_, EVIOCGKEY(sizeof now), now) >= 0)
            ResyncButtons(keys_, now, sizeof now, sink, context);
        }
        continue;
      }
      if (e.type == EV_KEY && e.code < KEY_CNT) SetBit(keys_, e.code, e.value != 0);
      sink(context, e);
    }
    // A short read took all there was: the next wake-up brings more.
    if (count < std::size(events)) return true;
  }
}

void SetBit(UInt8* bits, unsigned code, bool on) {
  if (on)
    bits[code / 8] |= UInt8(1u << (code % 8));
  else
    bits[code / 8] &= UInt8(~(1u << (code % 8)));
}

void ResyncButtons(UInt8* passed, const UInt8* now, size_t size,
                   void (*sink)(void* context, const input_event& event), void* context) {
  bool any = false;
  for (unsigned code = 0; code < size * 8; ++code) {
    bool was = passed[code / 8] & (1u << (code % 8)), is = now[code / 8] & (1u << (code % 8));
    if (was == is) continue;
    input_event e{};
    e.type = EV_KEY;
    e.code = static_cast<UInt16>(code);
    e.value = is;
    sink(context, e);
    SetBit(passed, code, is);
    any = true;
  }
  if (any) {
    input_event syn{};
    syn.type = EV_SYN;
    syn.code = SYN_REPORT;
    sink(context, syn);
  }
}

UdevInputWatcher::~UdevInputWatcher() {
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

bool UdevInputWatcher::Start() {
  udev_ = udev_new();
  if (!udev_) return false;
  // Devices are best taken once udev has looked at them (their properties, their permissions);
  // without a udev daemon the kernel's own announcements are all there is.
  const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
  monitor_ = udev_monitor_new_from_netlink(udev_, source);
  if (!monitor_) return false;
  udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
  if (udev_monitor_enable_receiving(monitor_) < 0) return false;
  int fd = udev_monitor_get_fd(monitor_);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return true;
}

int UdevInputWatcher::Descriptor() const {
  return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

std::vector<udev_device*> UdevInputWatcher::Present() {
  std::vector<udev_device*> devices;
  udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return devices;
  udev_enumerate_add_match_subsystem(e, "input");
  udev_enumerate_add_match_sysname(e, "event*");
  udev_enumerate_scan_devices(e);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    udev_device* d = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (d) devices.push_back(d);
  }
  udev_enumerate_unref(e);
  return devices;
}

udev_device* UdevInputWatcher::Receive(bool* added) {
  for (;;) {
    udev_device* d = udev_monitor_receive_device(monitor_);
    if (!d) return nullptr;
    const char* action = udev_device_get_action(d);
    const char* sysname = udev_device_get_sysname(d);
    if (action && sysname && std::strncmp(sysname, "event", 5) == 0) {
      if (std::strcmp(action, "add") == 0) {
        *added = true;
        return d;
      }
      if (std::strcmp(action, "remove") == 0) {
        *added = false;
        return d;
      }
    }
    udev_device_unref(d);
  }
}

}  // namespace corvimus
