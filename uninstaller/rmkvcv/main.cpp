// rmkvcv --rmcvms: removes the installation (see RemovalTool.h). Any other argument list does
// nothing and exits 0, so that the tool never acts on a mistyped call.
#include <cstring>

#include "RemovalTool.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "--rmcvms") != 0) return 0;
  return static_cast<UInt8>(RemoveInstallation());
}
