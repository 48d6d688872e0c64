// The window toolbox of the uninstaller, over Qt Widgets: nib files, windows made from them, the
// menu bar, window event handlers with command and close events, the application event loop, and
// the main bundle's resources.
//
// A nib is a folder "<name>.nib" in the main bundle's Resources holding one Qt Designer file per
// object: "<object>.ui". A window file's top-level widget is a QWidget (or QDialog) whose object
// name is the window's name; the menu bar file's top-level widget is a QMenuBar. A control
// (a button) or a menu item (an action) that sends a command carries a string property "command"
// holding the command's four characters.
//
// Qt has no menu bar of the whole application on Linux, so each window made from a nib after
// SetMenuBarFromNib gets its own copy of the menu bar; its commands go to that window. For the same
// reason an application whose last window went away has nothing left to be used by: when handling
// a command or a close leaves no window, the event loop ends.
//
// Standard handling, after every handler of a window answered eventNotHandledErr: the close command
// ('clos') closes the window as its close box does, the quit command ('quit') ends the event loop,
// and a window-close event disposes of the window.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include "platform/MacTypes.h"

namespace corvimus::toolbox {

struct OpaqueIBNibRef;
struct OpaqueWindowPtr;
struct OpaqueEventRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventHandlerRef;
using IBNibRef = OpaqueIBNibRef*;
using WindowRef = OpaqueWindowPtr*;
using EventRef = OpaqueEventRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;
using ItemCount = UInt32;
using ByteCount = UInt32;
using EventParamName = OSType;
using EventParamType = OSType;
using MenuRef = void*;
using MenuItemIndex = UInt16;

enum : OSStatus {
  kIBCarbonRuntimeCantFindNibFile = -10960,
  kIBCarbonRuntimeObjectNotOfRequestedType = -10961,
  kIBCarbonRuntimeCantFindObject = -10962,
  eventParameterNotFoundErr = -9870,
};

enum : UInt32 {
  kEventClassCommand = FourCC("cmds"),
  kEventClassWindow = FourCC("wind"),
  kEventCommandProcess = 1,
  kEventWindowClose = 72,
};

enum : OSType {
  kEventParamDirectObject = FourCC("----"),
  typeHICommand = FourCC("hcmd"),
};

enum : UInt32 {
  kHICommandOK = FourCC("ok  "),
  kHICommandCancel = FourCC("not!"),
  kHICommandQuit = FourCC("quit"),
  kHICommandAbout = FourCC("abou"),
  kHICommandClose = FourCC("clos"),
};

enum : UInt32 {
  kHICommandFromMenu = 1 << 0,
  kHICommandFromControl = 1 << 1,
  kHICommandFromWindow = 1 << 2,
};

struct HICommand {
  UInt32 attributes;
  UInt32 commandID;
  struct {
    MenuRef menuRef;
    MenuItemIndex menuItemIndex;
  } menu;
};

struct EventTypeSpec {
  UInt32 eventClass;
  UInt32 eventKind;
};

using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                         void* inUserData);
using EventHandlerUPP = EventHandlerProcPtr;
inline EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) {
  return proc;
}

// Nibs. The name is the folder's name without ".nib"; kIBCarbonRuntimeCantFindNibFile when the
// main bundle has no such folder (or there is no main bundle). The reference holds every file of
// the nib, read when it is made: the removal the uninstaller runs takes its own bundle away (into
// the cleanup folder, or the package manager deletes it), and the window that reports the result
// is made after that.
OSStatus CreateNibReference(const QString& inNibName, IBNibRef* outNibRef);
void DisposeNibReference(IBNibRef inNibRef);
// kIBCarbonRuntimeCantFindObject when the nib has no such file or it cannot be read as a Designer
// file, kIBCarbonRuntimeObjectNotOfRequestedType when its top-level object is of another kind.
OSStatus SetMenuBarFromNib(IBNibRef inNibRef, const QString& inName);
OSStatus CreateWindowFromNib(IBNibRef inNibRef, const QString& inName, WindowRef* outWindow);

// Windows. A window is created hidden. DisposeWindow may be called from the window's own handler:
// the window is gone at once for the application, its widgets are freed once control returns to
// the event loop.
void ShowWindow(WindowRef window);
void DisposeWindow(WindowRef window);
OSStatus InstallWindowEventHandler(WindowRef window, EventHandlerUPP handler, ItemCount numTypes,
                                   const EventTypeSpec* list, void* userData,
                                   EventHandlerRef* outRef);

// Events.
UInt32 GetEventClass(EventRef event);
UInt32 GetEventKind(EventRef event);
// Only the direct object of a command event, as typeHICommand, is offered.
OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize,
                           ByteCount* outActualSize, void* outData);

// Sends a command event to a window as its controls and menu items do: its handlers, then the
// standard handling.
OSStatus ProcessWindowCommand(WindowRef window, UInt32 commandID, UInt32 attributes);

// The application event loop: Qt's, with the process reachable by Apple events while it runs (the
// quit event ends it).
void RunApplicationEventLoop();
void QuitApplicationEventLoop();

// Installs the translations of the main bundle's Resources/<lang>.lproj/Uninstaller.qm for the
// user's language, and Qt's own for that language, once; the windows loaded afterwards speak it.
void InstallBundleTranslations();

// The main bundle: the folder X.app around the running program (X.app/Contents/MacOS/program).
// An empty string when the program does not lie in a bundle.
QString MainBundlePath();
// A resource of the main bundle, in Contents/Resources: an empty URL when there is none.
QUrl CopyBundleResource(const QString& bundlePath, const QString& name);

// Text in the Mac OS Roman encoding (a NUL-terminated string), as Unicode.
QString StringFromMacRoman(const char* text);

// The four-character code of a "command" property; 0 when the text is not four characters of
// Latin-1.
UInt32 CommandFromText(const QString& text);

// Disposes of every window that still exists and frees their widgets, for the end of the program
// (a QApplication must still exist).
void DisposeAllWindows();

// The window's top-level widget (null once disposed), and how many windows exist.
QWidget* WindowWidget(WindowRef window);
int CountWindows();

}  // namespace corvimus::toolbox
