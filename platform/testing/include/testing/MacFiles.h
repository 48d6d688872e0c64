// Items made and looked at through the File and Folder Manager in a test's temporary folders, their
// AppleDouble sidecars ("._name") included.
#pragma once

#include <string>
#include <vector>

#include "platform/FileCatalog.h"

namespace corvimus::testing {

// The reference of an existing item; fails the current test when there is none.
FSRef RefOf(const std::string& path);
// A name as the catalog calls take it; fails the current test when the text cannot be one.
HFSUniStr255 Uni(const char* text);

// The Finder info the item's sidecar holds (zeros when it has none).
struct FinderFields {
  OSType type = 0;
  OSType creator = 0;
  UInt16 flags = 0;
};
FinderFields FinderOf(const std::string& path);
// Sets the type and creator, clearing the flags; fails the current test on error.
void SetFinder(const std::string& path, OSType type, OSType creator);

enum class Sidecars { kListed, kHidden };
// The names in a folder, sorted ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder,
                                     Sidecars sidecars = Sidecars::kListed);

}  // namespace corvimus::testing
