// The driver's system service, stopped and disabled before its bundle is deleted: the daemon would
// otherwise run on from a deleted file, holding the mice, until the next start-up.
#pragma once

#include <string>

#include "platform/MacTypes.h"

inline constexpr char kDriverServiceName[] = "corvimusd.service";

// Stops and disables kDriverServiceName when the unit systemd has loaded under that name is the
// one inside bundleUnitPath's installation (another installation's service is left alone). Does
// nothing where systemd is not running. Never fails the removal: the result only says what
// happened (noErr: stopped, fnfErr: not this installation's or no systemd).
OSErr StopDriverService(const std::string& bundleUnitPath);

// After the bundle is gone: systemd forgets the unit whose file went with it.
void ReloadServiceManager();

// True when the unit file systemd names (fragmentPath, usually a link in a unit folder) is the
// file at bundleUnitPath, once every link is followed.
bool IsSameUnitFile(const std::string& fragmentPath, const std::string& bundleUnitPath);
