// An installation that the package manager put in place (the Debian package) is removed by the
// package manager: deleting its files behind dpkg's back would leave its database listing files
// that are gone, and the next install or removal of the package would trip over them. The removal
// tool asks dpkg who owns the driver's bundle and, when a package does, purges that package, whose
// maintainer scripts stop and disable the driver's service; the users' own pieces in their home
// folders stay the tool's work, since a package never touches home folders.
//
// dpkg is run by its absolute path with an environment of its own (the tool runs as root, started
// by pkexec), never through a shell; package names are checked against Debian's rules before use.
#pragma once

#include <string>

#include "platform/MacTypes.h"

// Where dpkg's programs lie on every Debian system.
inline constexpr char kDpkgQueryProgram[] = "/usr/bin/dpkg-query";
inline constexpr char kDpkgProgram[] = "/usr/bin/dpkg";

// The one package that owns path according to dpkg ("" when none does, when more than one does,
// or when dpkg is not there). path must be absolute and free of the wildcards dpkg would expand.
std::string PackageOwningPath(const std::string& path);

// The package named by dpkg-query -S's answer for path: the one line "package: path" (an
// architecture qualifier is kept, "name:arch"), "" for no such line, a line naming several
// packages, or a name Debian would not accept. Diversion lines are passed over.
std::string PackageFromSearchOutput(const std::string& output, const std::string& path);

// True for a Debian package name, optionally with ":architecture": lower-case letters, digits,
// '+', '-' and '.', at least two characters, starting with a letter or digit.
bool IsPackageName(const std::string& name);

// dpkg --purge package, without questions (its standard output is dropped, its errors go to the
// tool's own standard error). noErr when dpkg succeeded; fnfErr when dpkg cannot be started,
// ioErr when it failed.
OSErr PurgePackage(const std::string& package);
