#include "settings/ApplicationRecord.h"

#include <cstring>
#include <string>

namespace {

// Stores `text` as a Pascal string of at most `limit` bytes, shortened at a character boundary.
void StoreName(const std::string& text, unsigned char* field, size_t limit) {
  size_t length = text.size() < limit ? text.size() : limit;
  if (length < text.size())
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  field[0] = static_cast<unsigned char>(length);
  std::memcpy(field + 1, text.data(), length);
  std::memset(field + 1 + length, 0, limit - length);
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
