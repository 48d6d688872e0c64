#include "platform/PropertyLists.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "FileErrors.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Binary property lists, checked before libplist parses them. All integers are big-endian.
//
// Trailer, the last 32 bytes of the file:
//   offset size meaning
//   0      6    unused
//   6      1    offset size: bytes per entry of the offset table (1..8)
//   7      1    reference size: bytes per object reference (1..8)
//   8      8    number of objects
//   16     8    index of the top object
//   24     8    file offset of the offset table
// Offset table: one entry per object, the file offset of the object's marker byte.
// Object marker: high nibble the kind, low nibble a count (15 = the count follows as an integer
// object, marker 0x1n with 2^n bytes). Containers: 0xA array (count references), 0xB and 0xC
// sets (count references), 0xD dictionary (count key references, then count value references).
// Everything else is a leaf and is left to libplist.
//
// The check computes each container's height once, refuses a reference to an object still being
// walked (a cycle) and any height over the depth limit. libplist copies an object once per
// reference to it, so a few hundred bytes of shared references can stand for 2^60 nodes: the check
// also counts the nodes of the tree as libplist would build it and refuses more than
// kMaxExpandedNodes.
// ---------------------------------------------------------------------------------------------

UInt64 LoadBE(const unsigned char* p, unsigned n) {
  UInt64 v = 0;
  for (unsigned i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

struct BinaryList {
  const unsigned char* bytes;
  std::size_t size;
  unsigned offsetSize;
  unsigned refSize;
  UInt64 objectCount;
  UInt64 tableOffset;

  bool ObjectOffset(UInt64 index, std::size_t* out) const {
    UInt64 at = tableOffset + index * offsetSize;
    UInt64 off = LoadBE(bytes + at, offsetSize);
    if (off < 8 || off >= tableOffset) return false;
    *out = std::size_t(off);
    return true;
  }

  // The references of the object at `index` (none for a leaf) and whether it is a container.
  // False when the object does not fit the file.
  bool Children(UInt64 index, bool* container, std::size_t* firstRef, UInt64* refCount) const {
    std::size_t off;
    if (!ObjectOffset(index, &off)) return false;
    unsigned marker = bytes[off];
    unsigned kind = marker >> 4;
    *refCount = 0;
    *container = kind >= 0xA && kind <= 0xD;
    if (!*container) return true;
    UInt64 count = marker & 0x0F;
    std::size_t pos = off + 1;
    if (count == 0x0F) {
      if (pos >= tableOffset) return false;
      unsigned intMarker = bytes[pos];
      if ((intMarker >> 4) != 0x1 || (intMarker & 0x0F) > 3) return false;
      unsigned n = 1u << (intMarker & 0x0F);
      if (pos + 1 + n > tableOffset) return false;
      count = LoadBE(bytes + pos + 1, n);
      pos += 1 + n;
    }
    if (count > tableOffset) return false;
    UInt64 refs = kind == 0xD ? count * 2 : count;
    if (refs > (tableOffset - pos) / refSize) return false;
    *firstRef = pos;
    *refCount = refs;
    return true;
  }
};

constexpr UInt64 kMaxExpandedNodes = 1000000;

PropertyListContent CheckBinaryList(const unsigned char* bytes, std::size_t size) {
  if (size < 8 + 32) return kPropertyListNotAList;
  const unsigned char* trailer = bytes + size - 32;
  BinaryList list{
      bytes, size, trailer[6], trailer[7], LoadBE(trailer + 8, 8), LoadBE(trailer + 24, 8)};
  UInt64 top = LoadBE(trailer + 16, 8);
  if (list.offsetSize < 1 || list.offsetSize > 8 || list.refSize < 1 || list.refSize > 8)
    return kPropertyListNotAList;
  if (list.objectCount == 0 || top >= list.objectCount || list.tableOffset < 8 ||
      list.tableOffset > size - 32 ||
      list.objectCount > (size - 32 - list.tableOffset) / list.offsetSize)
    return kPropertyListNotAList;

  enum : UInt8 { kUnseen, kWalking, kDone };
  std::vector<UInt8> state(list.objectCount, kUnseen);
  std::vector<int> height(list.objectCount, 0);
  std::vector<UInt64> nodes(list.objectCount, 0);
  struct Frame {
    UInt64 object;
    bool container;
    std::size_t firstRef;
    UInt64 refCount;
    UInt64 next;
    int tallestChild;
    UInt64 nodes;
  };
  std::vector<Frame> stack;
  auto push = [&](UInt64 object) -> PropertyListContent {
    Frame f{object, false, 0, 0, 0, 0, 1};
    if (!list.Children(object, &f.container, &f.firstRef, &f.refCount))
      return kPropertyListNotAList;
    if (stack.size() > std::size_t(kPropertyListMaxDepth)) return kPropertyListOverLimits;
    state[object] = kWalking;
    stack.push_back(f);
    return kPropertyListParsed;
  };
  PropertyListContent r = push(top);
  if (r != kPropertyListParsed) return r;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next == f.refCount) {
      int h = f.container ? f.tallestChild + 1 : 0;
      if (h > kPropertyListMaxDepth) return kPropertyListOverLimits;
      height[f.object] = h;
      nodes[f.object] = f.nodes;
      state[f.object] = kDone;
      stack.pop_back();
      if (!stack.empty()) {
        Frame& parent = stack.back();
        if (h > parent.tallestChild) parent.tallestChild = h;
        parent.nodes += nodes[f.object];
        if (parent.nodes > kMaxExpandedNodes) return kPropertyListOverLimits;
      }
      continue;
    }
    UInt64 child = LoadBE(bytes + f.firstRef + f.next * list.refSize, list.refSize);
    ++f.next;
    if (child >= list.objectCount) return kPropertyListNotAList;
    if (state[child] == kWalking) return kPropertyListOverLimits;
    if (state[child] == kDone) {
      if (height[child] > f.tallestChild) f.tallestChild = height[child];
      f.nodes += nodes[child];
      if (f.nodes > kMaxExpandedNodes) return kPropertyListOverLimits;
      continue;
    }
    r = push(child);
    if (r != kPropertyListParsed) return r;
  }
  return kPropertyListParsed;
}

// ---------------------------------------------------------------------------------------------
// XML property lists: an upper bound of the element nesting, found by a scan of the markup before
// libplist parses it. Comments, CDATA sections, processing instructions and declarations are
// skipped whole; every other tag that does not close itself opens a level. Counting every element
// (not only arrays and dictionaries) can only overstate the depth, never understate it.
// ---------------------------------------------------------------------------------------------

bool XMLNestingWithin(const char* bytes, std::size_t size, int limit) {
  std::string_view text(bytes, size);
  int depth = 0;
  std::size_t i = 0;
  auto skipPast = [&](std::string_view end, std::size_t from) {
    std::size_t at = text.find(end, from);
    return at == std::string_view::npos ? size : at + end.size();
  };
  while ((i = text.find('<', i)) != std::string_view::npos) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = skipPast("-->", i + 4);
    } else if (rest.starts_with("<![CDATA[")) {
      i = skipPast("]]>", i + 9);
    } else if (rest.starts_with("<?")) {
      i = skipPast("?>", i + 2);
    } else if (rest.starts_with("<!")) {
      i = skipPast(">", i + 2);
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      i = skipPast(">", i + 2);
    } else {
      std::size_t close = text.find('>', i + 1);
      if (close == std::string_view::npos) break;
      if (text[close - 1] != '/' && ++depth > limit) return false;
      i = close + 1;
    }
  }
  return true;
}

}  // namespace

int PropertyListDepth(plist_t root) {
  if (!root) return 0;
  struct Item {
    plist_t node;
    int depth;
  };
  std::vector<Item> pending{{root, 0}};
  int deepest = 0;
  while (!pending.empty()) {
    Item item = pending.back();
    pending.pop_back();
    plist_type type = plist_get_node_type(item.node);
    if (type == PLIST_ARRAY) {
      int d = item.depth + 1;
      if (d > deepest) deepest = d;
      uint32_t n = plist_array_get_size(item.node);
      for (uint32_t k = 0; k < n; ++k) pending.push_back({plist_array_get_item(item.node, k), d});
    } else if (type == PLIST_DICT) {
      int d = item.depth + 1;
      if (d > deepest) deepest = d;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(item.node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(item.node, it, &key, &value);
        free(key);
        if (!value) break;
        pending.push_back({value, d});
      }
      free(it);
    }
  }
  return deepest;
}

PropertyListContent ParsePropertyList(const char* bytes, std::size_t size, PropertyList* outRoot) {
  outRoot->reset();
  if (size == 0) return kPropertyListNotAList;
  if (size > kPropertyListMaxFileSize) return kPropertyListOverLimits;
  plist_t root = nullptr;
  if (size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0) {
    PropertyListContent check =
        CheckBinaryList(reinterpret_cast<const unsigned char*>(bytes), size);
    if (check != kPropertyListParsed) return check;
    plist_from_bin(bytes, uint32_t(size), &root);
  } else {
    // Two levels above the containers: the <plist> element and a leaf element.
    if (!XMLNestingWithin(bytes, size, kPropertyListMaxDepth + 2)) return kPropertyListOverLimits;
    plist_from_xml(bytes, uint32_t(size), &root);
  }
  if (!root) return kPropertyListNotAList;
  if (PropertyListDepth(root) > kPropertyListMaxDepth) {
    plist_free(root);
    return kPropertyListOverLimits;
  }
  outRoot->reset(root);
  return kPropertyListParsed;
}

namespace {

// Reads and parses the file open as fd, and closes it.
OSErr ReadPropertyListDescriptor(int fd, PropertyListContent* outContent, PropertyList* outRoot) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return S_ISDIR(st.st_mode) ? fnfErr : ioErr;
  }
  std::vector<char> data;
  if (std::size_t(st.st_size) > kPropertyListMaxFileSize) {
    close(fd);
    *outContent = kPropertyListOverLimits;
    return noErr;
  }
  // Read to the end rather than trusting st_size: the file may change while it is read.
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      close(fd);
      return MacErrorFromErrno(err);
    }
    if (n == 0) break;
    data.insert(data.end(), chunk, chunk + n);
    if (data.size() > kPropertyListMaxFileSize) {
      close(fd);
      *outContent = kPropertyListOverLimits;
      return noErr;
    }
  }
  close(fd);
  *outContent = ParsePropertyList(data.data(), data.size(), outRoot);
  return noErr;
}

}  // namespace

OSErr ReadPropertyListFile(const std::string& path, PropertyListContent* outContent,
                           PropertyList* outRoot) {
  outRoot->reset();
  *outContent = kPropertyListNotAList;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return MacErrorFromErrno(errno);
  return ReadPropertyListDescriptor(fd, outContent, outRoot);
}

OSErr ReadPropertyListFileAt(int dirFd, const std::string& name, PropertyListContent* outContent,
                             PropertyList* outRoot) {
  outRoot->reset();
  *outContent = kPropertyListNotAList;
  int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? OSErr(permErr) : MacErrorFromErrno(errno);
  return ReadPropertyListDescriptor(fd, outContent, outRoot);
}

std::string PropertyListString(plist_t node) {
  if (!node || plist_get_node_type(node) != PLIST_STRING) return {};
  char* text = nullptr;
  plist_get_string_val(node, &text);
  std::string out = text ? text : "";
  free(text);
  return out;
}

OSErr WritePropertyListFileXML(const std::string& requested, plist_t root) {
  if (!root) return paramErr;
  // A file kept elsewhere behind a symbolic link stays there: the link is written through, not
  // replaced by a file of its own.
  std::string path = requested;
  struct stat link;
  if (lstat(requested.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char* real = realpath(requested.c_str(), nullptr);
    if (!real) return MacErrorFromErrno(errno);
    path = real;
    free(real);
  }
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return MacErrorFromErrno(errno);
  OSErr err = WritePropertyListFileXMLAt(dirFd, base, root);
  close(dirFd);
  return err;
}

OSErr WritePropertyListFileXMLAt(int dirFd, const std::string& name, plist_t root) {
  if (!root) return paramErr;
  char* text = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &text, &length);
  if (!text) return memFullErr;
  std::string xml(text, length);
  plist_to_xml_free(text);

  mode_t mode;
  struct stat st;
  if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0644 & ~mask;
  }
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return ioErr;
    tmp = "." + name + ".";
    for (unsigned char r : random)
      tmp += "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"[r % 52];
    fd = openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) return MacErrorFromErrno(errno);
  }
  if (fd < 0) return dupFNErr;
  OSErr err = noErr;
  fchmod(fd, mode);
  std::size_t done = 0;
  while (done < xml.size()) {
    ssize_t n = write(fd, xml.data() + done, xml.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = MacErrorFromErrno(errno);
      break;
    }
    done += std::size_t(n);
  }
  if (err == noErr && fsync(fd) != 0) err = MacErrorFromErrno(errno);
  if (close(fd) != 0 && err == noErr) err = MacErrorFromErrno(errno);
  if (err == noErr && renameat(dirFd, tmp.c_str(), dirFd, name.c_str()) != 0)
    err = MacErrorFromErrno(errno);
  if (err != noErr) unlinkat(dirFd, tmp.c_str(), 0);
  return err;
}
