// The manual page and the shell's completion of corvimus-prefs against the program's own words.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/TempDir.h"

using corvimus::testing::ReadFile;
using corvimus::testing::RunProgram;
using corvimus::testing::RunResult;

namespace {

// Lists one after the other.
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

std::vector<std::string> ListedWords(const std::string& kind) {
  RunResult r = RunProgram({CORVIMUS_PREFS_PROGRAM, "--list-words", kind}, {});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> words = Lines(r.out);
  EXPECT_FALSE(words.empty()) << kind;
  return words;
}

// A word as roff source writes it: hyphens escaped.
std::string Roff(const std::string& word) {
  std::string out;
  for (char c : word) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

// Whether `word` stands in `text` as a word of its own: not part of a longer one, which an
// escaped hyphen ("page\-up") joins as well.
bool HasWord(const std::string& text, const std::string& word) {
  auto isWordChar = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    bool before = at == 0 || (!isWordChar(text[at - 1]) &&
                              !(at >= 2 && text.compare(at - 2, 2, "\\-") == 0));
    bool after = end >= text.size() || (!isWordChar(text[end]) && text.compare(end, 2, "\\-") != 0);
    if (before && after) return true;
  }
  return false;
}

TEST(PrefsToolManual, NamesEveryCommandWordAndExitStatus) {
  std::string manual;
  ASSERT_TRUE(ReadFile(CORVIMUS_PREFS_MANUAL, &manual));
  // Letters and digits as the ranges a to z and 0 to 9, every other word by itself.
  EXPECT_NE(manual.find(".BR a \" to \" z ,\n.BR 0 \" to \" 9"), std::string::npos);
  for (const char* kind : {"commands", "controls", "actions", "modifiers", "keys"})
    for (const std::string& word : ListedWords(kind))
      if (word.size() > 1 || std::string(kind) != "keys")
        EXPECT_TRUE(HasWord(manual, Roff(word))) << kind << ": " << word;
  size_t status = manual.find(".SH EXIT STATUS");
  ASSERT_NE(status, std::string::npos);
  const std::string section = manual.substr(status, manual.find(".SH", status + 1) - status);
  for (const char* code : {".B 0\n", ".B 1\n", ".B 2\n"})
    EXPECT_NE(section.find(code), std::string::npos) << code;
  EXPECT_NE(manual.find("\"Corvimus " CORVIMUS_PREFS_VERSION "\""), std::string::npos)
      << "the manual's version is not the program's";
  // Options the usage names are in the manual too.
  RunResult help = RunProgram({CORVIMUS_PREFS_PROGRAM, "--help"}, {});
  for (const char* option : {"--file", "--app", "--modifiers", "--key", "--repeat", "--json",
                             "--recover", "--version"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_NE(manual.find(Roff(option)), std::string::npos) << option;
  }
}

TEST(PrefsToolManual, MatchesTheWordWithoutItsNeighbours) {
  // The check above is only as good as this: "up" is not found inside "page\-up".
  EXPECT_FALSE(HasWord("\\fBpage\\-up\\fR", "up"));
  EXPECT_FALSE(HasWord(".BR kp\\-5 ,", "5"));
  EXPECT_TRUE(HasWord(".BR up ,", "up"));
  EXPECT_TRUE(HasWord(".B page\\-up\n", "page\\-up"));
}

// What bash offers after COMP_WORDS, the last word being the one completed.
std::vector<std::string> Complete(const std::vector<std::string>& words,
                                  const std::vector<std::string>& environment = {}) {
  std::string array;
  for (const std::string& w : words) array += " '" + w + "'";
  std::string script = std::string("source '") + CORVIMUS_PREFS_COMPLETION +
                       "'\n"
                       "COMP_WORDS=('" CORVIMUS_PREFS_PROGRAM "'" +
                       array +
                       ")\n"
                       "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
                       "_corvimus_prefs\n"
                       "printf '%s\\n' \"${COMPREPLY[@]}\"\n";
  RunResult r = RunProgram({"/bin/bash", "--norc", "-c", script}, {}, environment);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> out;
  for (const std::string& line : Lines(r.out))
    if (!line.empty()) out.push_back(line);
  return out;
}

TEST(PrefsToolCompletion, OffersTheProgramsWordsInEachPlace) {
  EXPECT_EQ(Complete({""}),
            ListedWords("commands") + std::vector<std::string>({"--help", "--version"}));
  EXPECT_EQ(Complete({"set", ""}),
            ListedWords("controls") +
                std::vector<std::string>({"speed", "acceleration", "active"}));
  EXPECT_EQ(Complete({"set", "--app", "Ed", "back", ""}), ListedWords("actions"));
  EXPECT_EQ(Complete({"set", "back", "keystroke", "--key", ""}), ListedWords("keys"));
  EXPECT_EQ(Complete({"set", "back", "keystroke", "--key", "page-"}),
            (std::vector<std::string>{"page-up", "page-down"}));
  EXPECT_EQ(Complete({"set", "back", "keystroke", "--modifiers", "ctrl+s"}),
            (std::vector<std::string>{"ctrl+shift", "ctrl+super", "ctrl+space"}));
  EXPECT_EQ(Complete({"set", "back", "sc"}).size(), 12u);
  EXPECT_EQ(Complete({"set", "speed", ""}), std::vector<std::string>{"default"});
  EXPECT_EQ(Complete({"show", "--"}), (std::vector<std::string>{"--file", "--json", "--recover"}));
  EXPECT_TRUE(Complete({"set", "back", "copy", ""}).empty());
}

TEST(PrefsToolCompletion, OffersTheApplicationsOfTheSettings) {
  corvimus::testing::TempDir tmp;
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + tmp.path(), "HOME=" + tmp.path()};
  EXPECT_TRUE(Complete({"remove-app", ""}, env).empty());
  // One with a signature, one without, one whose name has a space and a quote.
  for (const char* name : {"Text Edit", "gimp", "It's"}) {
    std::string bundle = tmp / (std::string(name) + ".app");
    std::filesystem::create_directories(bundle + "/Contents");
    if (std::string(name) == "Text Edit")
      corvimus::testing::WriteFile(
          bundle + "/Contents/Info.plist",
          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleSignature</key>"
          "<string>ttxt</string></dict></plist>");
    RunResult r = RunProgram({CORVIMUS_PREFS_PROGRAM, "add-app", bundle}, {}, env);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  // Quoted as the command line needs them.
  EXPECT_EQ(Complete({"remove-app", ""}, env),
            (std::vector<std::string>{"gimp", "It\\'s", "Text\\ Edit"}));
  EXPECT_EQ(Complete({"set", "--app", "T"}, env), std::vector<std::string>{"Text\\ Edit"});
}

}  // namespace

