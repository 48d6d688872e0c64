#include "settings/ApplicationRecord.h"

#include <cstring>
#include <string>

#include "platform/TextUtils.h"

namespace {

// Stores `text` as a Pascal string cut where a character ends, with nothing of the global
// record's name left behind it.
void StoreName(const std::string& text, unsigned char* field, size_t limit) {
  std::memset(field, 0, limit + 1);
  corvimus::StorePascalUtf8(text.data(), text.size(), field, limit);
}

}  // namespace

void MakeApplicationRecord(const corvimus::ApplicationChoice& app, const CorvimusPrefsRec* global,
                           CorvimusPrefsRec* out) {
  std::memset(out, 0, sizeof *out);
  if (global) {
    std::memcpy(out, global, sizeof *out);
  } else {
    out->device[0].speed = 255;
    out->device[0].acceleration = 255;
  }
  out->application = app.signature ? app.signature : OSType(kUnknownSignature);
  StoreName(app.fileName, out->appFileName, sizeof out->appFileName - 1);
  StoreName(app.displayName.empty() ? app.fileName : app.displayName, out->appName,
            sizeof out->appName - 1);
  out->active = 1;
}
