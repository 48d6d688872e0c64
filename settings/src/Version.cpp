#include "settings/Version.h"

const char* CorvimusVersionString() {
  return CORVIMUS_VERSION;
}
