#include <gtest/gtest.h>
#include <xcb/xcb.h>
// The XKB protocol header names a field `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <string>

#include "platform/Keyboards.h"
#include "testing/TempDir.h"
#include "testing/XvfbServer.h"

namespace {

using corvimus::testing::RunProgram;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;
using corvimus::testing::XvfbServer;

// What key 0x0C (the position of Q) and key 0x06 (Z) type on the current layout, and its name.
std::string CurrentLayoutSample() {
  KeyboardLayoutRef layout = nullptr;
  if (KLGetCurrentKeyboardLayout(&layout) != noErr) return "no layout";
  const void* data = nullptr;
  const void* name = nullptr;
  if (KLGetKeyboardLayoutProperty(layout, kKLuchrData, &data) != noErr) return "no data";
  KLGetKeyboardLayoutProperty(layout, kKLName, &name);
  std::string sample;
  for (UInt16 key : {0x0C, 0x06}) {
    UInt32 dead = 0;
    UniChar unit = 0;
    UniCharCount n = 0;
    UCKeyTranslate(static_cast<const UCKeyboardLayout*>(data), key, kUCKeyActionDown, 0, 0, 0,
                   &dead, 1, &n, &unit);
    sample += n == 1 && unit < 0x80 ? char(unit) : '?';
  }
  return sample + " " + static_cast<const char*>(name);
}

bool LockGroup(const std::string& display, UInt8 group) {
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return false;
  }
  auto* use = xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr);
  const bool ok = use && use->supported;
  std::free(use);
  if (ok) {
    xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  }
  xcb_disconnect(c);
  return ok;
}

TEST(KeyboardLayoutOfTheXServer, IsCurrentWhileThereIsADisplay) {
  if (!XvfbServer::Available()) GTEST_SKIP() << "Xvfb is not installed";
  XvfbServer server;
  std::string whyNot;
  ASSERT_TRUE(server.Start(&whyNot)) << whyNot;
  const char* saved = std::getenv("DISPLAY");
  const std::string savedDisplay = saved ? saved : "";
  setenv("DISPLAY", server.display().c_str(), 1);
  // The system default says French; the X server's keymap wins over it.
  TempDir dir;
  WriteFile(dir / "keyboard", "XKBLAYOUT=fr\n");
  KLSetDefaultKeyboardFileForTesting((dir / "keyboard").c_str());

  EXPECT_EQ(CurrentLayoutSample(), "qz English (US)");

  auto result = RunProgram(
      {"/bin/sh", "-c", "exec setxkbmap -display " + server.display() + " -layout de,fr"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(CurrentLayoutSample(), "qy German");
  KeyboardLayoutRef first = nullptr, again = nullptr;
  KLGetCurrentKeyboardLayout(&first);
  KLGetCurrentKeyboardLayout(&again);
  EXPECT_EQ(first, again);  // an unchanged keymap is the same layout

  // The active group picks the layout within the keymap.
  ASSERT_TRUE(LockGroup(server.display(), 1));
  EXPECT_EQ(CurrentLayoutSample(), "aw French");

  // Once the display is gone, the system default is current again.
  server.Stop();
  EXPECT_EQ(CurrentLayoutSample(), "aw fr");

  KLSetDefaultKeyboardFileForTesting(nullptr);
  if (saved)
    setenv("DISPLAY", savedDisplay.c_str(), 1);
  else
    unsetenv("DISPLAY");
}

}  // namespace
