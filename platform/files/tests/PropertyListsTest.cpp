#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/PropertyLists.h"
#include "testing/MacFiles.h"
#include "testing/PropertyListFiles.h"
#include "testing/TempDir.h"

using corvimus::testing::BinaryPropertyList;
using corvimus::testing::FolderNames;
using corvimus::testing::ReadFile;
using corvimus::testing::TempDir;
using corvimus::testing::WriteFile;
using corvimus::testing::XmlPropertyList;

namespace {

std::string NestedXml(int levels, const std::string& open = "<array>",
                      const std::string& close = "</array>") {
  std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < levels; ++i) xml += open;
  for (int i = 0; i < levels; ++i) xml += close;
  return xml + "</plist>";
}

void PutBE(std::string* out, UInt64 v, int n) {
  for (int k = n - 1; k >= 0; --k) out->push_back(char((v >> (8 * k)) & 0xFF));
}

// A binary list built by hand: object i is an array whose elements are refs[i] (an empty list
// makes it an empty array), offsets 8 bytes, references 4 bytes.
std::string BinaryArrays(const std::vector<std::vector<UInt32>>& refs, UInt64 top = 0) {
  std::string b = "bplist00";
  std::vector<UInt64> offsets;
  for (const auto& r : refs) {
    offsets.push_back(b.size());
    if (r.size() < 15) {
      b.push_back(char(0xA0 | r.size()));
    } else {
      b.push_back(char(0xAF));
      b.push_back(char(0x12));
      PutBE(&b, r.size(), 4);
    }
    for (UInt32 x : r) PutBE(&b, x, 4);
  }
  UInt64 table = b.size();
  for (UInt64 o : offsets) PutBE(&b, o, 8);
  b.append(6, '\0');
  b.push_back(8);
  b.push_back(4);
  PutBE(&b, refs.size(), 8);
  PutBE(&b, top, 8);
  PutBE(&b, table, 8);
  return b;
}

PropertyListContent Parse(const std::string& bytes, PropertyList* root = nullptr) {
  PropertyList local;
  return ParsePropertyList(bytes.data(), bytes.size(), root ? root : &local);
}

}  // namespace

TEST(PropertyLists, ReadsXmlAndBinaryAndRefusesWhatIsNoList) {
  PropertyList d(plist_new_dict());
  plist_dict_set_item(d.get(), "k", plist_new_string("v"));
  PropertyList root;
  EXPECT_EQ(Parse(BinaryPropertyList(d.get()), &root), kPropertyListParsed);
  ASSERT_TRUE(root);
  EXPECT_EQ(PropertyListString(plist_dict_get_item(root.get(), "k")), "v");
  EXPECT_EQ(Parse(XmlPropertyList(d.get()), &root), kPropertyListParsed);
  EXPECT_EQ(PropertyListString(plist_dict_get_item(root.get(), "k")), "v");
  EXPECT_EQ(Parse(""), kPropertyListNotAList);
  EXPECT_EQ(Parse("hello"), kPropertyListNotAList);
  EXPECT_EQ(Parse("bplist00"), kPropertyListNotAList);
}

TEST(PropertyLists, NestingUpToTheLimitIsReadAndDeeperIsRefused) {
  EXPECT_EQ(Parse(NestedXml(kPropertyListMaxDepth)), kPropertyListParsed);
  EXPECT_EQ(Parse(NestedXml(kPropertyListMaxDepth + 1)), kPropertyListOverLimits);
  EXPECT_EQ(Parse(NestedXml(1000000)), kPropertyListOverLimits);
  EXPECT_EQ(Parse(NestedXml(200000, "<dict><key>a</key>", "</dict>")), kPropertyListOverLimits);
  // Closing tags hidden in comments must not lower the count.
  std::string hidden = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 300; ++i) hidden += "<array><!-- </array> -->";
  for (int i = 0; i < 300; ++i) hidden += "</array>";
  EXPECT_EQ(Parse(hidden + "</plist>"), kPropertyListOverLimits);
  // Unclosed deep nesting is refused before the parser sees it as well.
  std::string unclosed = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 500000; ++i) unclosed += "<array>";
  EXPECT_EQ(Parse(unclosed), kPropertyListOverLimits);

  auto chain = [](int levels) {
    std::vector<std::vector<UInt32>> refs;
    for (int i = 0; i < levels; ++i)
      refs.push_back(i + 1 < levels ? std::vector<UInt32>{UInt32(i + 1)} : std::vector<UInt32>{});
    return BinaryArrays(refs);
  };
  EXPECT_EQ(Parse(chain(kPropertyListMaxDepth)), kPropertyListParsed);
  EXPECT_EQ(Parse(chain(kPropertyListMaxDepth + 1)), kPropertyListOverLimits);
  EXPECT_EQ(Parse(chain(1000000)), kPropertyListOverLimits);
}

TEST(PropertyLists, BinaryCyclesAndExponentialSharingAreRefused) {
  EXPECT_EQ(Parse(BinaryArrays({{0}})), kPropertyListOverLimits);
  EXPECT_EQ(Parse(BinaryArrays({{1}, {2}, {0}})), kPropertyListOverLimits);
  // Each level refers to the next twice: 61 objects standing for 2^61 nodes once copied.
  std::vector<std::vector<UInt32>> shared;
  for (UInt32 i = 0; i < 60; ++i) shared.push_back({i + 1, i + 1});
  shared.push_back({});
  EXPECT_EQ(Parse(BinaryArrays(shared)), kPropertyListOverLimits);
  // Modest sharing is fine.
  EXPECT_EQ(Parse(BinaryArrays({{1, 1, 1}, {2, 2}, {}})), kPropertyListParsed);
  // References and offsets that point outside the file are not lists.
  EXPECT_EQ(Parse(BinaryArrays({{7}})), kPropertyListNotAList);
  EXPECT_EQ(Parse(BinaryArrays({{}}, 3)), kPropertyListNotAList);
}

// Every truncation and every single-byte change of a valid binary list parses or is refused; none
// crashes (the sanitizer build checks the reads).
TEST(PropertyLists, DamagedBinaryListsNeverCrash) {
  PropertyList d(plist_new_dict());
  plist_t items = plist_new_array();
  for (int i = 0; i < 3; ++i) {
    plist_t e = plist_new_dict();
    plist_dict_set_item(e, "Path", plist_new_string(("/a/b" + std::to_string(i)).c_str()));
    plist_dict_set_item(e, "Hide", plist_new_bool(i % 2));
    plist_array_append_item(items, e);
  }
  plist_dict_set_item(d.get(), "AutoLaunchedApplicationDictionary", items);
  plist_dict_set_item(d.get(), "n", plist_new_uint(1234567));
  const std::string good = BinaryPropertyList(d.get());
  int parsed = 0;
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    if (Parse(good.substr(0, cut)) == kPropertyListParsed) ++parsed;
  }
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (unsigned char v : {0x00, 0xFF, 0x0F, 0xAF, 0xDF}) {
      std::string bad = good;
      bad[at] = char(v);
      PropertyList root;
      if (Parse(bad, &root) == kPropertyListParsed) {
        ASSERT_TRUE(root);
        ++parsed;
      }
    }
  }
  EXPECT_EQ(Parse(good), kPropertyListParsed);
  EXPECT_GT(parsed, 0) << "some single-byte changes still give a list";
}

TEST(PropertyLists, AFileOverTheSizeLimitIsRefusedUnread) {
  TempDir dir;
  std::string huge = NestedXml(1);
  huge.insert(huge.size() - 8, std::string(kPropertyListMaxFileSize, ' '));
  WriteFile(dir / "huge.plist", huge);
  PropertyListContent content = kPropertyListParsed;
  PropertyList root;
  EXPECT_EQ(ReadPropertyListFile(dir / "huge.plist", &content, &root), noErr);
  EXPECT_EQ(content, kPropertyListOverLimits);
  EXPECT_FALSE(root);
  EXPECT_EQ(ReadPropertyListFile(dir / "missing.plist", &content, &root), fnfErr);
}

TEST(PropertyLists, WritingReplacesTheFileWholeAndKeepsItsPermissions) {
  TempDir dir;
  const std::string file = dir / "list.plist";
  WriteFile(file, "old");
  chmod(file.c_str(), 0600);
  PropertyList d(plist_new_dict());
  plist_dict_set_item(d.get(), "k", plist_new_bool(1));
  ASSERT_EQ(WritePropertyListFileXML(file, d.get()), noErr);
  std::string text;
  ASSERT_TRUE(ReadFile(file, &text));
  EXPECT_EQ(text, XmlPropertyList(d.get()));
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"list.plist"})
      << "no temporary file left";
  // A folder that does not exist gives an error and creates nothing.
  EXPECT_EQ(WritePropertyListFileXML(dir / "no/such/list.plist", d.get()), fnfErr);
}

TEST(PropertyLists, WritingThroughASymbolicLinkKeepsTheLink) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "store").c_str(), 0755), 0);
  WriteFile(dir / "store/real.plist", "old");
  ASSERT_EQ(symlink((dir / "store/real.plist").c_str(), (dir / "list.plist").c_str()), 0);
  PropertyList d(plist_new_dict());
  plist_dict_set_item(d.get(), "k", plist_new_string("v"));
  ASSERT_EQ(WritePropertyListFileXML(dir / "list.plist", d.get()), noErr);
  struct stat st;
  ASSERT_EQ(lstat((dir / "list.plist").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  std::string text;
  ASSERT_TRUE(ReadFile(dir / "store/real.plist", &text));
  EXPECT_EQ(text, XmlPropertyList(d.get()));
  // A dangling link is an error, and nothing is created.
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling.plist").c_str()), 0);
  EXPECT_EQ(WritePropertyListFileXML(dir / "dangling.plist", d.get()), fnfErr);
  EXPECT_NE(access((dir / "nowhere").c_str(), F_OK), 0);
}

TEST(PropertyLists, TheDescriptorFormsNeverFollowALinkNorBlockOnAFifo) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "store").c_str(), 0755), 0);
  WriteFile(dir / "store/other.plist", "<plist version=\"1.0\"><dict/></plist>");
  ASSERT_EQ(symlink((dir / "store/other.plist").c_str(), (dir / "linked.plist").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.plist").c_str(), 0644), 0);
  const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  PropertyListContent content;
  PropertyList root;
  EXPECT_EQ(ReadPropertyListFileAt(folder, "linked.plist", &content, &root), permErr);
  EXPECT_EQ(ReadPropertyListFileAt(folder, "fifo.plist", &content, &root), ioErr);
  EXPECT_EQ(ReadPropertyListFileAt(folder, "missing.plist", &content, &root), fnfErr);
  EXPECT_FALSE(root);

  // Writing replaces the link itself; the file it led to is left as it was.
  PropertyList d(plist_new_dict());
  plist_dict_set_item(d.get(), "k", plist_new_string("v"));
  ASSERT_EQ(WritePropertyListFileXMLAt(folder, "linked.plist", d.get()), noErr);
  struct stat st;
  ASSERT_EQ(lstat((dir / "linked.plist").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  std::string text;
  ASSERT_TRUE(ReadFile(dir / "store/other.plist", &text));
  EXPECT_EQ(text, "<plist version=\"1.0\"><dict/></plist>");
  ASSERT_EQ(ReadPropertyListFileAt(folder, "linked.plist", &content, &root), noErr);
  ASSERT_EQ(content, kPropertyListParsed);
  EXPECT_EQ(XmlPropertyList(root.get()), XmlPropertyList(d.get()));
  // A file's permissions are kept, and no temporary file is left beside it.
  ASSERT_EQ(chmod((dir / "linked.plist").c_str(), 0600), 0);
  ASSERT_EQ(WritePropertyListFileXMLAt(folder, "linked.plist", d.get()), noErr);
  ASSERT_EQ(lstat((dir / "linked.plist").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::vector<std::string> names;
  DIR* listing = opendir(dir.path().c_str());
  while (dirent* e = readdir(listing)) names.push_back(e->d_name);
  closedir(listing);
  EXPECT_EQ(names.size(), 5u) << "., .., store, fifo.plist and linked.plist only";
  close(folder);
}
