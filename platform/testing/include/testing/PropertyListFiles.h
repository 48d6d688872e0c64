// Property lists as files hold them, for tests that hand the code under test a list it reads.
#pragma once

#include <plist/plist.h>

#include <string>
#include <vector>

namespace corvimus::testing {

// The tree in the binary form ("bplist00") and in the XML form.
std::string BinaryPropertyList(plist_t node);
std::string XmlPropertyList(plist_t node);

// One entry of a login-item list.
struct LoginItem {
  std::string path;
  bool hide = false;
  bool operator==(const LoginItem&) const = default;
};

// A login-item list ("loginwindow.plist") in XML: under "AutoLaunchedApplicationDictionary" in the
// root dictionary, one {Hide, Path} dictionary per item in order.
std::string LoginItemListXml(const std::vector<LoginItem>& items);

}  // namespace corvimus::testing
