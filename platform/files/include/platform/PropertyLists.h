// Property lists: reading XML and binary property list files and writing XML ones, on libplist.
//
// The system uses libplist's C calls, each tree held by a PropertyList (an owning pointer that
// frees it). The library's C++ wrapper, as Debian ships it (libplist++ 2.2), cannot be used: the
// wrapper of an array that came from a parsed file lists no elements, and wrapper objects leak
// whenever a container is set into another.
//
// Files that another program or a user may have written are read with limits: a file larger than
// kPropertyListMaxFileSize or nested deeper than kPropertyListMaxDepth is refused before libplist
// sees it (libplist and its C++ wrapper recurse once per level and overflow the stack on a few
// hundred thousand levels). A binary list whose objects refer to themselves is refused the same
// way. Writing never leaves a half-written file: the text goes to a sibling temporary file that is
// flushed and renamed over the old one.
#pragma once

#include <plist/plist.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/MacTypes.h"

inline constexpr std::size_t kPropertyListMaxFileSize = 8u * 1024u * 1024u;
inline constexpr int kPropertyListMaxDepth = 128;

struct PropertyListFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PropertyList = std::unique_ptr<void, PropertyListFree>;

enum PropertyListContent {
  kPropertyListParsed = 0,      // *outRoot holds the list
  kPropertyListNotAList = 1,    // empty, or not a property list in either format
  kPropertyListOverLimits = 2,  // too large, too deep or self-referring: refused, not parsed
};

// Parses bytes as a binary ("bplist00") or XML property list. *outRoot is set only for
// kPropertyListParsed.
PropertyListContent ParsePropertyList(const char* bytes, std::size_t size, PropertyList* outRoot);

// Reads and parses a whole file. Returns noErr with *outContent set, or the File Manager code of
// the failure (fnfErr for a missing file, ioErr for other read failures, including a file over
// kPropertyListMaxFileSize, which is reported as kPropertyListOverLimits with noErr).
OSErr ReadPropertyListFile(const std::string& path, PropertyListContent* outContent,
                           PropertyList* outRoot);
// The same for the file `name` in the folder open as dirFd. A symbolic link is never followed
// (permErr), and a FIFO or device never blocks the read (ioErr: it is no regular file).
OSErr ReadPropertyListFileAt(int dirFd, const std::string& name, PropertyListContent* outContent,
                             PropertyList* outRoot);

// Replaces the file at path with the XML form of root, atomically. An existing file keeps its
// permission bits; a new one gets 0644 less the umask. A symbolic link is written through (its
// target is replaced, the link stays). Returns noErr or the File Manager code.
OSErr WritePropertyListFileXML(const std::string& path, plist_t root);
// The same for the file `name` in the folder open as dirFd: the temporary file and the rename stay
// inside that folder, and whatever stands at `name` (a link included) is replaced, never followed.
OSErr WritePropertyListFileXMLAt(int dirFd, const std::string& name, plist_t root);

// Maximum nesting of containers in a parsed list (a leaf is depth 0, an empty container 1).
// Iterative, so it is safe on any tree libplist returns.
int PropertyListDepth(plist_t node);

// The string value of node, or "" when it is no string.
std::string PropertyListString(plist_t node);
