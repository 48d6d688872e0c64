// Corvimus Uninstaller.
#include <QApplication>

#include "Uninstaller.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  return int(RunUninstaller());
}
