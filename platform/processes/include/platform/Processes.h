// The Process Manager: the calling user's processes, their names and signatures, and the front one.
//
// A process serial number is the pid (low word) together with the process's start time (high word:
// clock ticks since boot plus one), so a pid the kernel hands out again is a different process.
// Processes of other users and kernel threads are never listed; zombies neither.
//
// Name: when the executable lies in X.app/Contents/MacOS/, the bundle's Info.plist CFBundleName,
// else X; otherwise the application's Linux name (platform/ApplicationNames.h: a desktop entry id,
// the script an interpreter runs, else the executable's file name). Signature: the bundle's
// CFBundleSignature, else '????'. Front process: the focused window's process as the session's
// source tells it (platform/FrontSwitch.h): sway's IPC, the KWin script, the GNOME Shell
// extension, else the X11 active window (_NET_ACTIVE_WINDOW of the root window) and its
// _NET_WM_PID.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/MacTypes.h"

struct ProcessSerialNumber {
  UInt32 highLongOfPSN;
  UInt32 lowLongOfPSN;
};
static_assert(sizeof(ProcessSerialNumber) == 8);

enum : UInt32 {
  kNoProcess = 0,
  kSystemProcess = 1,
  kCurrentProcess = 2,
};

enum : OSErr {
  // A window is in front, but which application it belongs to cannot be told: it names no process
  // (an X11 window without _NET_WM_PID), or the session's source cannot see the front (GNOME Shell
  // without its extension).
  kFrontProcessUnknownErr = -25002,
};

enum : OSType {
  kApplicationType = FourCC("APPL"),
};

// The fields the system reads are processName, processNumber, processType and processSignature.
// processInfoLength is not checked against sizeof: the record's pointers make its size depend on
// the build. processAppSpec must be null (no file specification is produced).
struct ProcessInfoRec {
  UInt32 processInfoLength;
  StringPtr processName;  // the caller's 256-byte buffer or null; receives a Pascal string
  ProcessSerialNumber processNumber;
  UInt32 processType;
  OSType processSignature;
  UInt32 processMode;
  Ptr processLocation;
  UInt32 processSize;
  UInt32 processFreeMem;
  ProcessSerialNumber processLauncher;  // the parent when it is listed, else kNoProcess
  UInt32 processLaunchDate;             // ticks (1/60 s) since boot at the process's start
  UInt32 processActiveTime;
  void* processAppSpec;
};

// From kNoProcess: the first process; from a process: the next one; past the last: procNotFound.
// The walk is over a snapshot taken when it starts from kNoProcess.
OSErr GetNextProcess(ProcessSerialNumber* PSN);
OSErr GetProcessInformation(const ProcessSerialNumber* PSN, ProcessInfoRec* info);
OSErr GetCurrentProcess(ProcessSerialNumber* PSN);
// Fails (procNotFound) without a display, without an active window, or when its process is not one
// of the calling user's; kFrontProcessUnknownErr as above.
OSErr GetFrontProcess(ProcessSerialNumber* PSN);
OSErr SameProcess(const ProcessSerialNumber* PSN1, const ProcessSerialNumber* PSN2,
                  Boolean* result);
OSErr GetProcessPID(const ProcessSerialNumber* PSN, pid_t* pid);
// Whether the process runs in the caller's login session, as the two environments tell (the one the
// process was started with, the caller's current one). Another runtime folder (XDG_RUNTIME_DIR)
// is another session; where both name displays (WAYLAND_DISPLAY, DISPLAY), every display both name
// must be the same; a process with a display and one without are in different sessions; without
// displays XDG_SESSION_ID decides where both carry one, and otherwise nothing tells them apart.
// Not in it when its environment cannot be read. Processes of the test table always are.
OSErr IsProcessInCurrentSession(const ProcessSerialNumber* PSN, Boolean* result);
OSErr GetProcessForPID(pid_t pid, ProcessSerialNumber* PSN);

// Test seams.
struct TestProcess {
  ProcessSerialNumber psn;
  std::string name;  // UTF-8
  OSType signature = kUnknownSignature;
};
// Replaces the process table by `table` (not copied; null: the real processes again).
void SetProcessTableForTesting(const std::vector<TestProcess>* table);
// Lists only `ancestor` and its descendants among the real processes (0: everything again), so a
// test sees its own child processes and not those of tests running beside it.
void SetProcessScopeForTesting(pid_t ancestor);
// Replaces the X11 source of GetFrontProcess (an empty function: X11 again).
void SetFrontProcessSourceForTesting(std::function<OSErr(ProcessSerialNumber*)> source);
