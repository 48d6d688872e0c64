// Corvimus Uninstaller.
#include <QApplication>

#include "Uninstaller.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  OSStatus status = RunUninstaller();
  // Windows still shown when the event loop ended.
  corvimus::toolbox::DisposeAllWindows();
  return int(status);
}
