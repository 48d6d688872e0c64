#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QTranslator>
#include <cstring>

#include "ButtonReport.h"
#include "ButtonTesterWindow.h"
#include "settings/CommandTable.h"
#include "settings/CorvimusDriver.h"
#include "settings/CorvimusPrefs.h"

namespace {

QApplication* App() {
  static int argc = 1;
  static char name[] = "tester_tests";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QApplication* app = new QApplication(argc, argv);
  return app;
}

struct ReportBytes {
  UInt8 b[kCorvimusReportSize] = {};
};

void StoreLE(UInt8* p, UInt64 v, int n) {
  for (int i = 0; i < n; ++i) p[i] = UInt8(v >> (8 * i));
}

// A report as the driver's engine lays it out.
ReportBytes Report(UInt8 kind, UInt8 slot, UInt16 type, UInt16 code, SInt32 value, UInt32 sequence,
                   UInt8 flags = 0) {
  ReportBytes r;
  r.b[0] = kCorvimusReportVersion;
  r.b[1] = kind;
  r.b[2] = slot;
  r.b[3] = flags;
  StoreLE(r.b + 4, type, 2);
  StoreLE(r.b + 6, code, 2);
  StoreLE(r.b + 8, UInt32(value), 4);
  StoreLE(r.b + 12, 0x0021, 2);
  StoreLE(r.b + 16, 0x0102030405060708ull, 8);
  StoreLE(r.b + 24, sequence, 4);
  return r;
}

ButtonReport Decoded(const ReportBytes& bytes) {
  ButtonReport r;
  EXPECT_TRUE(DecodeButtonReport(bytes.b, sizeof bytes.b, &r));
  return r;
}

}  // namespace

TEST(ButtonReportDecoding, ReadsEveryFieldLittleEndian) {
  ButtonReport r = Decoded(
      Report(kCorvimusReportWheel, kSlotRB, 2, 0x0B, -240, 0x01020304, kCorvimusReportHiRes));
  EXPECT_EQ(r.kind, kCorvimusReportWheel);
  EXPECT_EQ(r.slot, kSlotRB);
  EXPECT_TRUE(r.highResolution);
  EXPECT_EQ(r.eventType, 2);
  EXPECT_EQ(r.eventCode, 0x0B);
  EXPECT_EQ(r.value, -240);
  EXPECT_EQ(r.buttonsDown, 0x0021);
  EXPECT_EQ(r.timeUs, 0x0102030405060708ull);
  EXPECT_EQ(r.sequence, 0x01020304u);
  EXPECT_TRUE(r.pressed());
  EXPECT_FALSE(Decoded(Report(kCorvimusReportButton, 5, 1, 0x115, 0, 1)).pressed());
}

TEST(ButtonReportDecoding, RefusesWhatNoDriverSends) {
  ButtonReport r;
  ReportBytes good = Report(kCorvimusReportButton, 7, 1, 0x117, 1, 0);
  EXPECT_TRUE(DecodeButtonReport(good.b, sizeof good.b, &r));
  EXPECT_FALSE(DecodeButtonReport(good.b, sizeof good.b - 1, &r)) << "short";
  EXPECT_FALSE(DecodeButtonReport(nullptr, sizeof good.b, &r));
  ReportBytes version = good;
  version.b[0] = 2;
  EXPECT_FALSE(DecodeButtonReport(version.b, sizeof version.b, &r));
  // Each kind has its own controls: buttons 0-7, the wheel 12-13, the tilt 14-15.
  const struct {
    UInt8 kind, slot;
    bool ok;
  } cases[] = {{kCorvimusReportButton, 8, false},
               {kCorvimusReportButton, kSlotRF, false},
               {kCorvimusReportWheel, kSlotRF, true},
               {kCorvimusReportWheel, kSlotPF, false},
               {kCorvimusReportTilt, kSlotPB, true},
               {kCorvimusReportTilt, kSlotRB, false},
               {0, 0, false},
               {4, 0, false}};
  for (const auto& c : cases) {
    ReportBytes b = Report(c.kind, c.slot, 1, 0, 1, 0);
    EXPECT_EQ(DecodeButtonReport(b.b, sizeof b.b, &r), c.ok) << int(c.kind) << " " << int(c.slot);
  }
}

TEST(ButtonTesterWindow, AButtonLightsWhileDownAndIsNamedAsTheSettingsNameIt) {
  App();
  ButtonTesterWindow window;
  for (const ControlInfo& control : kControlTable) {
    ASSERT_NE(window.TileForSlot(control.slot), nullptr) << control.id;
    EXPECT_FALSE(window.IsLit(control.slot));
  }
  EXPECT_EQ(window.TileForSlot(9), nullptr) << "slots 8-11 belong to no control";

  EXPECT_EQ(window.ShowReport(Decoded(Report(kCorvimusReportButton, 5, 1, 0x115, 1, 0))),
            "Button 6 pressed");
  EXPECT_TRUE(window.IsLit(5));
  EXPECT_FALSE(window.IsLit(4));
  EXPECT_EQ(window.LastControlText(), "Button 6");
  EXPECT_EQ(window.ShowReport(Decoded(Report(kCorvimusReportButton, 5, 1, 0x115, 0, 1))),
            "Button 6 released");
  EXPECT_FALSE(window.IsLit(5));
  EXPECT_EQ(window.MissedReports(), 0u);
}

TEST(ButtonTesterWindow, AWheelNotchFlashesAndGapsInTheSequenceAreCounted) {
  App();
  ButtonTesterWindow window;
  window.ShowReport(Decoded(Report(kCorvimusReportTilt, kSlotPF, 2, 6, -1, 10)));
  EXPECT_TRUE(window.IsLit(kSlotPF));
  EXPECT_EQ(window.LastControlText(), "Wheel tilted left");
  QElapsedTimer waited;
  waited.start();
  while (window.IsLit(kSlotPF) && waited.elapsed() < 5000)
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(window.IsLit(kSlotPF)) << "a notch has no release: the tile goes dark by itself";
  EXPECT_GE(waited.elapsed(), ButtonTesterWindow::kFlashMs / 2);

  // Reports 11 and 12 never came.
  window.ShowReport(Decoded(Report(kCorvimusReportWheel, kSlotRF, 2, 8, 1, 13)));
  EXPECT_EQ(window.MissedReports(), 2u);
  EXPECT_TRUE(window.findChild<QLabel*>("missed")->isVisibleTo(&window));
  window.ShowReport(Decoded(Report(kCorvimusReportWheel, kSlotRF, 2, 8, 1, 14)));
  EXPECT_EQ(window.MissedReports(), 2u);
}

TEST(ButtonTesterWindow, InGermanTheControlsHaveTheirGermanNames) {
  App();
  QTranslator own, names;
  const QString german = QString(TESTER_BUNDLE) + "/Contents/Resources/de.lproj/";
  ASSERT_TRUE(own.load(german + "ButtonTester.qm"));
  ASSERT_TRUE(names.load(german + "CommandTable.qm"));
  QApplication::installTranslator(&own);
  QApplication::installTranslator(&names);
  {
    ButtonTesterWindow window;
    EXPECT_EQ(window.windowTitle(), "Maustasten-Test");
    EXPECT_EQ(window.TileForSlot(5)->findChild<QLabel*>()->text(), "Taste 6");
    EXPECT_EQ(window.TileForSlot(kSlotPB)->findChild<QLabel*>()->text(), "Rad nach rechts geneigt");
    EXPECT_EQ(window.ShowReport(Decoded(Report(kCorvimusReportButton, 5, 1, 0x115, 1, 0))),
              "Taste 6 gedrückt");
  }
  QApplication::removeTranslator(&names);
  QApplication::removeTranslator(&own);
}
