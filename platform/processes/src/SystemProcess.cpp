#include "platform/SystemProcess.h"

#include <systemd/sd-bus.h>

namespace corvimus {

namespace {

std::function<OSErr(bool)>& RestartRequestForTesting() {
  static std::function<OSErr(bool)> request;
  return request;
}

// Hands the request to logind without waiting for its answer, as a no-reply event does: logind
// asks polkit (and so the user) before it restarts.
OSErr AskLogindToReboot(bool interactive) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return procNotFound;
  sd_bus_set_allow_interactive_authorization(bus, interactive ? 1 : 0);
  sd_bus_message* call = nullptr;
  OSErr err = noErr;
  if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                     "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     "Reboot") < 0 ||
      sd_bus_message_append(call, "b", interactive ? 1 : 0) < 0 ||
      sd_bus_message_set_expect_reply(call, 0) < 0) {
    err = memFullErr;
  } else if (sd_bus_send(bus, call, nullptr) < 0 || sd_bus_flush(bus) < 0) {
    err = connectionInvalid;
  }
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  return err;
}

}  // namespace

OSErr SendToSystemProcess(AEEventClass eventClass, AEEventID eventID, AESendMode sendMode) {
  if (eventClass != kCoreEventClass || eventID != kAERestart) return errAEEventNotHandled;
  AESendMode interaction = sendMode & kAEAlwaysInteract;
  bool interactive = interaction == kAECanInteract || interaction == kAEAlwaysInteract;
  if (RestartRequestForTesting()) return RestartRequestForTesting()(interactive);
  return AskLogindToReboot(interactive);
}

void SetRestartRequestForTesting(std::function<OSErr(bool interactive)> request) {
  RestartRequestForTesting() = std::move(request);
}

}  // namespace corvimus
