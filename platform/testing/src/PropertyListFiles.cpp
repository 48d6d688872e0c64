#include "testing/PropertyListFiles.h"

namespace corvimus::testing {

namespace {

// libplist hands out the bytes of either form the same way, each with its own release call.
template <typename Convert, typename Release>
std::string Serialized(plist_t node, Convert convert, Release release) {
  char* bytes = nullptr;
  uint32_t length = 0;
  convert(node, &bytes, &length);
  std::string out(bytes ? bytes : "", length);
  release(bytes);
  return out;
}

}  // namespace

std::string BinaryPropertyList(plist_t node) {
  return Serialized(node, plist_to_bin, plist_to_bin_free);
}

std::string XmlPropertyList(plist_t node) {
  return Serialized(node, plist_to_xml, plist_to_xml_free);
}

std::string LoginItemListXml(const std::vector<LoginItem>& items) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "<key>AutoLaunchedApplicationDictionary</key>\n<array>\n";
  for (const LoginItem& item : items) {
    xml += "<dict><key>Hide</key>" + std::string(item.hide ? "<true/>" : "<false/>") +
           "<key>Path</key><string>" + item.path + "</string></dict>\n";
  }
  return xml + "</array>\n</dict>\n</plist>\n";
}

}  // namespace corvimus::testing
