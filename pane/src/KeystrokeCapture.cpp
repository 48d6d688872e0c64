// Keystroke capture. While the keystroke field has the keyboard focus, every key press is taken
// from the application before shortcuts, menus or the field itself see it, and becomes the
// selected slot's key code and modifiers. The hook is an event filter on the application: Qt
// offers every shortcut override and key press to application filters first.
#include <QApplication>
#include <QKeyEvent>

#include "CorvimusPane.h"
#include "PaneTables.h"
#include "platform/Keyboards.h"

namespace {

// X11 reports the lock state in the native modifier mask; Qt has no modifier flag for it.
constexpr quint32 kX11LockMask = 0x02;
// X11 key codes are evdev codes plus 8.
constexpr quint32 kX11KeycodeOffset = 8;

// The virtual key code at the position of an evdev key, 255 when no virtual key sits there: the
// keyboard layer's table read backwards.
UInt8 VirtualKeyForEvdevCode(quint32 evdev) {
  for (UInt16 vk = 0; vk < 128; ++vk)
    if (KeyboardEvdevCodeForVirtualKey(vk) == SInt32(evdev)) return UInt8(vk);
  return 255;
}

class CorvimusAppPatch : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::ShortcutOverride) && gCorvimus &&
        gCorvimus->InterceptKeystrokes()) {
      // The override is accepted so that no shortcut fires; the key press that follows is the
      // one delivered to the pane. Both go no further.
      if (type == QEvent::KeyPress) SendKeystrokeToField(static_cast<QKeyEvent*>(event));
      event->accept();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  static void SendKeystrokeToField(QKeyEvent* event) {
    quint32 scan = event->nativeScanCode();
    UInt8 keyCode = 255;
    if (scan >= kX11KeycodeOffset) keyCode = VirtualKeyForEvdevCode(scan - kX11KeycodeOffset);
    Qt::KeyboardModifiers m = event->modifiers();
    CapturedModifiers captured{
        (m & Qt::MetaModifier) != 0,                             // command is the Super key
        (m & (Qt::AltModifier | Qt::GroupSwitchModifier)) != 0,  // option, also AltGr
        (m & Qt::ControlModifier) != 0,                          // control
        (m & Qt::ShiftModifier) != 0,
        (event->nativeModifiers() & kX11LockMask) != 0,
    };
    gCorvimus->InterceptOneKeystroke(keyCode, ModifiersFromCapture(captured));
  }
};

CorvimusAppPatch* gAppPatch = nullptr;

}  // namespace

SInt8 SwapNSAppMethods() {
  if (!gAppPatch) {
    gAppPatch = new CorvimusAppPatch;
    qApp->installEventFilter(gAppPatch);
  } else {
    qApp->removeEventFilter(gAppPatch);
    delete gAppPatch;
    gAppPatch = nullptr;
  }
  return 1;
}
