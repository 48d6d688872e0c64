#include "RemovalToolTestSupport.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>

namespace removal_test {

std::vector<std::string> LoginItemPaths(const std::string& plistFile) {
  std::vector<std::string> paths;
  std::string bytes;
  if (!corvimus::testing::ReadFile(plistFile, &bytes)) {
    ADD_FAILURE() << "cannot read " << plistFile;
    return paths;
  }
  EXPECT_EQ(bytes.rfind("<?xml", 0), 0u) << "not written as XML: " << plistFile;
  plist_t root = nullptr;
  plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
  if (!root) {
    ADD_FAILURE() << "not a property list: " << plistFile;
    return paths;
  }
  plist_t items = plist_dict_get_item(root, "AutoLaunchedApplicationDictionary");
  for (uint32_t i = 0; items && i < plist_array_get_size(items); ++i) {
    plist_t path = plist_dict_get_item(plist_array_get_item(items, i), "Path");
    char* text = nullptr;
    if (path) plist_get_string_val(path, &text);
    paths.push_back(text ? text : "<no path>");
    free(text);
  }
  plist_free(root);
  return paths;
}

void WriteLoginItems(const std::string& plistFile, const std::vector<std::string>& paths) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n"
      "\t<key>AutoLaunchedApplicationDictionary</key>\n\t<array>\n";
  for (const auto& p : paths) {
    xml +=
        "\t\t<dict>\n\t\t\t<key>Hide</key>\n\t\t\t<false/>\n\t\t\t<key>Path</key>\n\t\t\t<string>" +
        p + "</string>\n\t\t</dict>\n";
  }
  xml += "\t</array>\n\t<key>OtherSetting</key>\n\t<string>kept</string>\n</dict>\n</plist>\n";
  corvimus::testing::WriteFile(plistFile, xml);
}

}  // namespace removal_test
