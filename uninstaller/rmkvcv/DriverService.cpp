#include "DriverService.h"

#include <limits.h>
#include <stdlib.h>
#include <systemd/sd-bus.h>

namespace {

constexpr char kSystemd[] = "org.freedesktop.systemd1";
constexpr char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr char kManager[] = "org.freedesktop.systemd1.Manager";

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? resolved : "";
}

// The unit file systemd loaded for the name, or "".
std::string FragmentPath(sd_bus* bus, const char* unit) {
  sd_bus_message* reply = nullptr;
  const char* object = nullptr;
  std::string path;
  if (sd_bus_call_method(bus, kSystemd, kManagerPath, kManager, "LoadUnit", nullptr, &reply, "s",
                         unit) >= 0 &&
      sd_bus_message_read(reply, "o", &object) >= 0) {
    char* fragment = nullptr;
    if (sd_bus_get_property_string(bus, kSystemd, object, "org.freedesktop.systemd1.Unit",
                                   "FragmentPath", nullptr, &fragment) >= 0 &&
        fragment) {
      path = fragment;
      free(fragment);
    }
  }
  sd_bus_message_unref(reply);
  return path;
}

}  // namespace

bool IsSameUnitFile(const std::string& fragmentPath, const std::string& bundleUnitPath) {
  if (fragmentPath.empty()) return false;
  std::string a = RealPath(fragmentPath), b = RealPath(bundleUnitPath);
  return !a.empty() && a == b;
}

OSErr StopDriverService(const std::string& bundleUnitPath) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return fnfErr;
  OSErr result = fnfErr;
  if (IsSameUnitFile(FragmentPath(bus, kDriverServiceName), bundleUnitPath)) {
    // Stopping ends the grabs: the mice go back to the desktop at once.
    sd_bus_call_method(bus, kSystemd, kManagerPath, kManager, "StopUnit", nullptr, nullptr, "ss",
                       kDriverServiceName, "replace");
    sd_bus_message* call = nullptr;
    char* units[] = {const_cast<char*>(kDriverServiceName), nullptr};
    if (sd_bus_message_new_method_call(bus, &call, kSystemd, kManagerPath, kManager,
                                       "DisableUnitFiles") >= 0 &&
        sd_bus_message_append_strv(call, units) >= 0 &&
        sd_bus_message_append(call, "b", 0) >= 0)
      sd_bus_call(bus, call, 0, nullptr, nullptr);
    sd_bus_message_unref(call);
    result = noErr;
  }
  sd_bus_flush_close_unref(bus);
  return result;
}

void ReloadServiceManager() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return;
  sd_bus_call_method(bus, kSystemd, kManagerPath, kManager, "Reload", nullptr, nullptr, "");
  sd_bus_flush_close_unref(bus);
}
