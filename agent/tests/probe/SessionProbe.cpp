// Runs the console-session check in a process of its own, since its first answer decides for the
// life of the process. Prints one line per round: the answer of IsSessionOnConsole and what
// CopySessionDictionary gave. With an argument, installs that file as the CoreGraphics bundle
// between the two rounds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "agent/Session.h"
#include "platform/Folders.h"

namespace {

std::string Describe(plist_t dict) {
  if (!dict) return "null";
  std::map<std::string, std::string> items;  // sorted, so the line does not depend on insertion
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(dict, &it);
  for (;;) {
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(dict, it, &key, &value);
    if (!key) break;
    std::string& text = items[key];
    if (plist_get_node_type(value) == PLIST_BOOLEAN) {
      uint8_t b = 0;
      plist_get_bool_val(value, &b);
      text = b ? "true" : "false";
    } else {
      text = "other";
    }
    std::free(key);
  }
  std::free(it);
  plist_free(dict);
  std::string text = "dict";
  for (const auto& [key, value] : items) text += " " + key + "=" + value;
  return text;
}

void Round() {
  const int onConsole = IsSessionOnConsole();
  std::printf("%d %s\n", onConsole, Describe(CopySessionDictionary()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Round();
  if (argc > 1) {
    std::string frameworks;
    if (corvimus::FolderPath(kOnAppropriateDisk, kFrameworksFolderType, &frameworks) != noErr)
      return 2;
    const std::filesystem::path bundle =
        std::filesystem::path(frameworks) / kCoreGraphicsBundlePath;
    std::filesystem::create_directories(bundle);
    std::filesystem::copy_file(argv[1], bundle / "CoreGraphics",
                               std::filesystem::copy_options::overwrite_existing);
    Round();
  }
  return 0;
}
