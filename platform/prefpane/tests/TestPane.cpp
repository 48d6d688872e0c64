// A minimal pane library: counts its life-cycle calls in the view's properties so the loader test
// can see that the host-side interface reaches the plug-in's own code.
#include <QLabel>
#include <cstdio>

#include "prefpane/PreferencePane.h"

namespace {

class TestPane : public corvimus::prefpane::PreferencePane {
 public:
  using PreferencePane::PreferencePane;
  void mainViewDidLoad() override { Bump("loaded"); }
  void didSelect() override { Bump("selected"); }
  void willUnselect() override { Bump("unselected"); }
  QStringList screenshotStates() override { return {"Second look"}; }
  void showScreenshotState(int index) override {
    std::printf("pane state %d\n", index);
    std::fflush(stdout);
  }

 protected:
  QWidget* createMainView() override { return new QLabel(bundle().identifier); }

 private:
  // Also told on standard output, for the host's test that runs this pane in a real host process.
  void Bump(const char* key) {
    mainView()->setProperty(key, mainView()->property(key).toInt() + 1);
    std::printf("pane %s\n", key);
    std::fflush(stdout);
  }
};

}  // namespace

CORVIMUS_PREFERENCE_PANE(TestPane)
