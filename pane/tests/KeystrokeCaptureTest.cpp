// Keystroke capture: key presses in the focused keystroke field become the slot's key, before the
// host's shortcuts or the field's own focus handling see them.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "PaneTables.h"
#include "PaneTestSupport.h"

namespace {

// evdev codes of the keys used here; X11 reports them plus 8.
constexpr quint32 kEvdevTab = 15, kEvdevQ = 16, kEvdevA = 30;
constexpr quint32 kX11LockMask = 0x02;

// A key press as the window system delivers it: Qt first offers it as a shortcut override, then
// matches shortcuts, then delivers it to the focus widget.
void Press(Qt::Key key, Qt::KeyboardModifiers mods, quint32 evdev, quint32 nativeMods = 0) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  QKeyEvent press(QEvent::KeyPress, key, mods, evdev + 8, 0, nativeMods);
  QApplication::sendEvent(focus, &press);
  QKeyEvent release(QEvent::KeyRelease, key, mods, evdev + 8, 0, nativeMods);
  QApplication::sendEvent(focus, &release);
}

}  // namespace

class KeystrokeCaptureTest : public PaneTest {
 protected:
  void SetUp() override {
    PaneTest::SetUp();
    OpenPane();
    SelectControlRow(RowForSlot(4));
    Choose(pane_->outletPrefsAction, 4);  // keystroke
    pane_->outletPrefsKeystroke->setFocus();
    ASSERT_TRUE(pane_->InterceptKeystrokes());
  }
  CorvimusActionRec& slot() { return pane_->fSettings.device[0].action[4]; }
};

TEST_F(KeystrokeCaptureTest, QuitShortcutIsCapturedNotExecuted) {
  Press(Qt::Key_Q, Qt::MetaModifier, kEvdevQ);  // command is the Super key
  EXPECT_EQ(slot().keyCode, 0x0C);
  EXPECT_EQ(slot().modifiers, cmdKey);
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "Super+Q");
  EXPECT_TRUE(pane_->outletPrefsKeyCommand->isChecked());
  Press(Qt::Key_Q, Qt::ControlModifier, kEvdevQ);
  EXPECT_EQ(slot().modifiers, controlKey);
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "Ctrl+Q");
  EXPECT_EQ(quitTriggered_, 0) << "the host's quit shortcut fired";
  EXPECT_TRUE(pane_->outletPrefsApply->isEnabled());
}

TEST_F(KeystrokeCaptureTest, TabIsCapturedAndFocusStays) {
  Press(Qt::Key_Tab, Qt::NoModifier, kEvdevTab);
  EXPECT_EQ(slot().keyCode, 0x30);
  EXPECT_EQ(slot().modifiers, 0);
  EXPECT_EQ(pane_->outletPrefsKeystroke->text(), "Tab");
  EXPECT_TRUE(pane_->outletPrefsKeystroke->hasFocus());
}

TEST_F(KeystrokeCaptureTest, CaptureReplacesEveryModifierBit) {
  slot().modifiers = kCorvimusSpaceKey | cmdKey;
  Press(Qt::Key_A, Qt::MetaModifier | Qt::ShiftModifier | Qt::AltModifier, kEvdevA, kX11LockMask);
  EXPECT_EQ(slot().keyCode, 0x00);
  EXPECT_EQ(slot().modifiers, cmdKey | shiftKey | optionKey | alphaLock);
}

TEST_F(KeystrokeCaptureTest, KeysAreSwallowedButIgnoredForOtherCommands) {
  Choose(pane_->outletPrefsAction, 9);      // not a keystroke
  pane_->outletPrefsKeystroke->setFocus();  // the field is hidden, but could still hold focus
  CorvimusPrefsRec before = pane_->fSettings;
  Press(Qt::Key_Q, Qt::ControlModifier, kEvdevQ);
  EXPECT_EQ(std::memcmp(&before, &pane_->fSettings, sizeof before), 0);
  EXPECT_EQ(quitTriggered_, 0);
}

TEST_F(KeystrokeCaptureTest, OutsideTheFieldKeysBehaveNormally) {
  pane_->outletPrefsApply->setFocus();
  ASSERT_FALSE(pane_->InterceptKeystrokes());
  Press(Qt::Key_Q, Qt::ControlModifier, kEvdevQ);
  EXPECT_EQ(slot().keyCode, 255);
  EXPECT_EQ(quitTriggered_, 1);
}

TEST_F(KeystrokeCaptureTest, LeavingThePaneRemovesTheCapture) {
  // Shown and left twice more: the capture is a toggle and must end up removed.
  pane_->willUnselect();
  pane_->didSelect();
  pane_->willUnselect();
  selected_ = false;
  pane_->outletPrefsKeystroke->setFocus();
  Press(Qt::Key_Q, Qt::ControlModifier, kEvdevQ);
  EXPECT_EQ(slot().keyCode, 255);
  EXPECT_EQ(quitTriggered_, 1);
  pane_->didSelect();
  selected_ = true;
  pane_->outletPrefsKeystroke->setFocus();
  Press(Qt::Key_Q, Qt::ControlModifier, kEvdevQ);
  EXPECT_EQ(slot().keyCode, 0x0C);
  EXPECT_EQ(quitTriggered_, 1);
}
