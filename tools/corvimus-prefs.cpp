// corvimus-prefs: look inside and edit the settings file from a terminal or a script.
//
// It reads and writes the file only through the settings routines and the record base, so what it
// writes is what the pane would write. Exit status: 0 success; 1 the file or the input is not
// acceptable (nothing was written); 2 wrong usage, or the file cannot be opened or written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/FileRefs.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Resources.h"
#include "platform/TextUtils.h"
#include "recordbase/PStrings.h"
#include "recordbase/QBase.h"
#include "settings/ApplicationRecord.h"
#include "settings/CommandTable.h"
#include "settings/CorvimusPrefs.h"
#include "settings/MouseSettings.h"
#include "settings/PaneAgentEvents.h"
#include "settings/PrefsJson.h"
#include "settings/PrefsRules.h"
#include "settings/PrefsText.h"

namespace {

constexpr int kExitBad = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxJsonInput = 256u << 20;

// Words after an indent, wrapped before 100 columns, the last without its comma.
std::string Wrapped(const std::vector<std::string>& words) {
  const std::string indent(10, ' ');
  std::string out, line = indent;
  for (size_t i = 0; i < words.size(); ++i) {
    std::string word = words[i] + (i + 1 < words.size() ? "," : "");
    if (line.size() > indent.size() && line.size() + word.size() + 1 > 100) {
      out += line + "\n";
      line = indent;
    }
    line += (line.size() > indent.size() ? " " : "") + word;
  }
  return out + line + "\n";
}

// The usage text; the words of the commands and controls come from the one table of them.
std::string Usage() {
  std::vector<std::string> commands, controls;
  for (const CommandInfo& c : kCommandTable)
    if (c.menu != PaneMenu::kNone && c.family != CommandFamily::kOpenItem)
      commands.push_back(c.word);
  for (const ControlInfo& c : kControlTable)
    controls.push_back(std::string(c.id) + " (" + c.word + ")");
  return "usage: corvimus-prefs COMMAND [--file PATH] ...\n"
         "  show [--json] [--recover]     the records the settings file holds\n"
         "  check                         is the file a valid settings file?\n"
         "  init                          write a file holding only the default record\n"
         "  export OUT.json               the records as JSON (- for standard output)\n"
         "  import IN.json                replace the records by those of a JSON file (- for "
         "standard input)\n"
         "  set [--app NAME] speed|acceleration VALUE|default\n"
         "  set [--app NAME] active 0|1\n"
         "  set [--app NAME] SLOT COMMAND [--modifiers M] [--key K] [--repeat N]\n"
         "      SLOT: a control, by its identifier or word, or a slot number 0-15:\n" +
         Wrapped(controls) + "      COMMAND: a number or one of\n" + Wrapped(commands) +
         "      M: ctrl, alt, shift, super, caps-lock, space, joined with + or -\n"
         "  add-app APP                   add an application with a copy of the global settings;\n"
         "      APP: a desktop entry id (org.gnome.Calculator), a .desktop file, an application\n"
         "      bundle or a program\n"
         "  remove-app NAME               remove an application's settings\n"
         "  apply                         ask the running agent to reload the settings file\n"
         "--file defaults to the user's settings file.\n";
}

struct BaseDeleter {
  void operator()(OpaqueQBaseRec** base) const { QBaseDispose(base); }
};
using BasePtr = std::unique_ptr<OpaqueQBaseRec*, BaseDeleter>;

std::string ErrorText(OSErr e) {
  const char* what = e == kQBaseErr ? "not a valid settings base" : DescribeFileError(e);
  std::string out = "error " + std::to_string(e);
  if (what) out += " (" + std::string(what) + ")";
  return out;
}

// An error of opening or replacing the settings file at `path`, in words that say what to do
// where there is something to do.
std::string FileErrorText(OSErr e, const std::string& path) {
  if (e == fLckdErr)
    return "the file is read-only; make it writable (chmod u+w) to change it";
  if (e != notAFileErr) return ErrorText(e);
  struct stat st;
  const char* kind = "not a regular file";
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISFIFO(st.st_mode)) kind = "a FIFO";
    if (S_ISCHR(st.st_mode)) kind = "a character device";
    if (S_ISBLK(st.st_mode)) kind = "a block device";
    if (S_ISSOCK(st.st_mode)) kind = "a socket";
  }
  return std::string("it is ") + kind + ", not a regular file";
}

int Fail(int code, const std::string& message) {
  std::cerr << "corvimus-prefs: " << message << "\n";
  return code;
}

// ---- The file
// ------------------------------------------------------------------------------------

struct Target {
  FSSpec spec{};
  std::string path;
  bool exists = false;
};

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

// The settings file named by --file, or the user's own. `forWriting` makes a missing Preferences
// folder.
bool FindTarget(const std::optional<std::string>& file, bool forWriting, Target* t,
                std::string* error) {
  OSErr e;
  if (file) {
    std::string path = AbsolutePath(*file);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.find_last_of('/');
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    std::string name = path.substr(slash + 1);
    if (name.empty() || name.size() > 63) {
      *error = *file + ": a settings file name has 1 to 63 characters";
      return false;
    }
    SInt16 v;
    SInt32 dirID;
    if ((e = corvimus::PathToDirID(folder, &v, &dirID)) != noErr) {
      *error = folder + ": " + ErrorText(e);
      return false;
    }
    Str255 pname;
    pname[0] = UInt8(name.size());
    std::memcpy(pname + 1, name.data(), name.size());
    e = FSMakeFSSpec(v, dirID, pname, &t->spec);
  } else {
    Str255 pname;
    pname[0] = UInt8(std::strlen(kCorvimusPrefsFileName));
    std::memcpy(pname + 1, kCorvimusPrefsFileName, pname[0]);
    e = FindMouseSettingsFile(pname, forWriting ? kCreateFolder : kDontCreateFolder, &t->spec);
    if (e == fnfErr && !forWriting) {
      // No Preferences folder either: no file.
      std::string where;
      if (corvimus::FSSpecToPath(&t->spec, &where) != noErr) {
        *error = "no settings file (the Preferences folder does not exist)";
        return false;
      }
    }
  }
  if (e != noErr && e != fnfErr) {
    *error = (file ? *file : std::string("settings file")) + ": " + ErrorText(e);
    return false;
  }
  t->exists = e == noErr;
  corvimus::FSSpecToPath(&t->spec, &t->path);
  return true;
}

struct FileReport {
  bool opened = false;
  OSErr openError = noErr;
  bool empty = false;
  bool bigEndian = false;
  std::string problem;  // empty when the file is a valid settings base of 1012-byte records
};

// Reads the header the way the record base does, to say which rule a refused file breaks.
std::string DescribeHeaderProblem(SInt16 ref, SInt64 length, bool* bigEndian) {
  UInt8 h[64] = {};
  UInt32 got = 0;
  FSReadFork(ref, fsFromStart, 0, UInt32(std::min<SInt64>(length, 64)), h, &got);
  if (got < 4) return "not a settings file (too short to be a record base)";
  bool big;
  if (corvimus::LoadU32BE(h) == kQBaseSignature) {
    big = true;
  } else if (corvimus::LoadU32LE(h) == kQBaseSignature) {
    big = false;
  } else {
    return "not a settings file (it is not a record base)";
  }
  *bigEndian = big;
  auto u16 = [&](int at) {
    return big ? corvimus::LoadU16BE(h + at) : corvimus::LoadU16LE(h + at);
  };
  auto u32 = [&](int at) {
    return big ? corvimus::LoadU32BE(h + at) : corvimus::LoadU32LE(h + at);
  };
  if (got < 12) return "not a settings file (its header is cut short)";
  UInt16 version = u16(8);
  OSType type = u32(4);
  UInt16 typeVersion = u16(10);
  if (version != 1 && version != 2)
    return "not a settings file (record base version " + std::to_string(version) + ")";
  if (type != kCorvimusBaseType || typeVersion != kCorvimusBaseTypeVersion) {
    char tv[8];
    std::snprintf(tv, sizeof tv, "0x%04X", typeVersion);
    return "not a settings file (a record base of type " + FourCCText(type) + ", version " + tv +
           ")";
  }
  SInt64 headerSize = version == 1 ? 48 : 64;
  if (SInt64(got) < headerSize)
    return "length does not match its header (the file is " + std::to_string(length) +
           " bytes, shorter than the header)";
  SInt64 count = SInt32(u32(version == 1 ? 28 : 12));
  SInt64 records = u32(version == 1 ? 32 : 16);
  SInt64 user = version == 1 ? 0 : u32(56);
  SInt64 expected = headerSize + user + 4 * count + records;
  if (count < 0 || expected != length)
    return "length does not match its header (the file is " + std::to_string(length) +
           " bytes, its header says " + std::to_string(expected) + ")";
  return {};
}

// Opens and reads the file into `base` (replacing its records), with recovery when asked.
FileReport ReadTarget(const Target& t, QBaseHandle base, bool recover, bool* repaired) {
  FileReport r;
  SInt16 ref = 0;
  r.openError = FSpOpenDF(&t.spec, fsRdPerm, &ref);
  if (r.openError != noErr) return r;
  r.opened = true;
  SInt64 length = 0;
  FSGetForkSize(ref, &length);
  r.empty = length == 0;
  std::string headerProblem;
  if (!r.empty) headerProblem = DescribeHeaderProblem(ref, length, &r.bigEndian);
  SInt16 fixed = 0;
  OSErr e = QBaseReadRecover(base, ref, 1, 1, 1, 1, recover ? 1 : 0, &fixed);
  FSCloseFork(ref);
  if (repaired) *repaired = fixed != 0;
  if (e == kQBaseErr) {
    r.problem =
        !headerProblem.empty() ? headerProblem : "damaged (its index and records do not agree)";
  } else if (e != noErr) {
    r.openError = e;
    r.opened = false;
    return r;
  }
  if (r.problem.empty()) {
    for (SInt32 i = 0, n = QBaseCountRecords(base); i < n; ++i) {
      SInt32 size = 0;
      QBaseGetRecord(base, i, &size);
      if (size != kCorvimusPrefsRecSize) {
        r.problem = "record " + std::to_string(i) + " has " + std::to_string(size) +
                    " bytes; a settings record has 1012";
        break;
      }
    }
  }
  return r;
}

std::vector<CorvimusPrefsRec> RecordsOf(QBaseHandle base) {
  std::vector<CorvimusPrefsRec> out(size_t(QBaseCountRecords(base)));
  for (size_t i = 0; i < out.size(); ++i) {
    SInt32 size = 0;
    const void* data = QBaseGetRecord(base, SInt32(i), &size);
    if (data && size == kCorvimusPrefsRecSize) std::memcpy(&out[i], data, sizeof out[i]);
  }
  return out;
}

SInt16 CompareByApp(const CorvimusPrefsRec& a, const CorvimusPrefsRec& b) {
  if (a.application == 0) return -1;
  if (b.application == 0) return 1;
  return PStringCmp(a.appName, b.appName);
}

bool InPaneOrder(const std::vector<CorvimusPrefsRec>& records) {
  for (size_t i = 1; i < records.size(); ++i)
    if (records[i].application == 0 || CompareByApp(records[i - 1], records[i]) > 0) return false;
  return true;
}

// Writes the records, in this order, as the whole settings file. A base whose records are in the
// pane's order (global first, then by name) is stored with the pane's sort mode, so a file the
// pane would write and one written here are the same bytes.
int WriteRecords(const Target& t, const std::vector<CorvimusPrefsRec>& records) {
  BasePtr base(NewMouseSettingsBase(4));
  if (!base) return Fail(kExitUsage, "out of memory");
  for (const auto& r : records)
    if (QBaseAddRecord(base.get(), &r, kCorvimusPrefsRecSize) < 0)
      return Fail(kExitUsage, "out of memory");
  if (!records.empty() && InPaneOrder(records)) QBaseSetSortMode(base.get(), kQBaseSortFirstUser);
  OSErr e =
      SaveMouseSettingsToSpec(base.get(), &t.spec, kCorvimusPrefsFileType, kCorvimusPrefsCreator);
  if (e != noErr)
    return Fail(kExitUsage,
                "cannot write " + t.path + ": " + FileErrorText(e, t.path) + "; nothing was written");
  return 0;
}

// The default record as the installed pane would add it: with the pane's localized name of the
// global record (string list 132) when the pane is installed. The tool lies in no bundle of its
// own, so GetIndString would find nothing for it.
CorvimusPrefsRec PaneDefaultRecord() {
  CorvimusPrefsRec r = kCorvimusDefaultPrefs;
  std::string library;
  if (corvimus::FolderPath(kLocalDomain, kDomainLibraryFolderType, &library) != noErr) return r;
  std::string name;
  if (!corvimus::GetIndStringFromBundle(library + "/PreferencePanes/Corvimus.prefPane", 132, 1,
                                        &name))
    return r;
  corvimus::StorePascalUtf8(name.data(), name.size(), r.appName, 31);
  return r;
}

// The records an edit starts from: those of the file, or the default record when there is no file
// or an empty one, as the pane would find them. A file that is not valid is refused.
bool LoadForEdit(const Target& t, std::vector<CorvimusPrefsRec>* records, int* exitCode) {
  BasePtr base(NewMouseSettingsBase(4));
  if (!base) {
    *exitCode = Fail(kExitUsage, "out of memory");
    return false;
  }
  if (t.exists) {
    FileReport r = ReadTarget(t, base.get(), false, nullptr);
    if (!r.opened) {
      *exitCode =
          Fail(kExitUsage, "cannot open " + t.path + ": " + FileErrorText(r.openError, t.path));
      return false;
    }
    if (!r.problem.empty()) {
      *exitCode = Fail(
          kExitBad, t.path + ": " + r.problem + "; nothing was written (init starts a new file)");
      return false;
    }
  }
  CorvimusPrefsRec defaults = PaneDefaultRecord();
  OSErr e = LoadMouseSettingsFromSpec(base.get(), nullptr, &defaults);
  if (e != noErr) {
    *exitCode = Fail(kExitUsage, "cannot load the settings: " + ErrorText(e));
    return false;
  }
  *records = RecordsOf(base.get());
  return true;
}

// ---- Commands
// ------------------------------------------------------------------------------------

struct Options {
  std::optional<std::string> file;
  std::optional<std::string> app;
  std::optional<std::string> modifiers, key, repeat;
  bool json = false, recover = false;
  std::vector<std::string> args;
};

// What a command does with its settings file.
enum class Access {
  kRead,     // the file must exist; it is read into a base as it is
  kEdit,     // its records, or the default record where there is no file yet
  kReplace,  // only found: the command writes it whole
};

struct OpenedFile {
  Target target;
  BasePtr base;                           // kRead
  FileReport report;                      // kRead
  bool repaired = false;                  // kRead with --recover
  std::vector<CorvimusPrefsRec> records;  // kEdit
};

// What every command does first: finds the settings file (--file, else the user's own, making a
// missing Preferences folder unless the file is only read) and reads what `access` asks for.
// False after saying why, with the exit code in *exitCode.
bool OpenSettingsFile(const Options& o, Access access, OpenedFile* f, int* exitCode) {
  std::string error;
  if (!FindTarget(o.file, access != Access::kRead, &f->target, &error)) {
    *exitCode = Fail(kExitUsage, error);
    return false;
  }
  const Target& t = f->target;
  if (access == Access::kReplace) return true;
  if (access == Access::kEdit) return LoadForEdit(t, &f->records, exitCode);
  if (!t.exists) {
    *exitCode = Fail(kExitUsage, "no settings file at " + t.path);
    return false;
  }
  f->base.reset(NewMouseSettingsBase(8));
  if (!f->base) {
    *exitCode = Fail(kExitUsage, "out of memory");
    return false;
  }
  f->report = ReadTarget(t, f->base.get(), o.recover, &f->repaired);
  if (!f->report.opened) {
    *exitCode = Fail(kExitUsage,
                     "cannot open " + t.path + ": " + FileErrorText(f->report.openError, t.path));
    return false;
  }
  return true;
}

int Show(const Options& o) {
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kRead, &f, &rc)) return rc;
  const Target& t = f.target;
  const FileReport& r = f.report;
  QBaseHandle base = f.base.get();
  // Records of another size have no place in the shape; the text form names them.
  bool sizeProblem = r.problem.rfind("record ", 0) == 0;
  if (!r.problem.empty() && (!sizeProblem || o.json))
    return Fail(kExitBad, t.path + ": " + r.problem);
  if (o.json) {
    std::cout << PrefsDocumentToJson(r.bigEndian, RecordsOf(base));
    return 0;
  }
  SInt32 n = QBaseCountRecords(base);
  std::cout << "settings file " << t.path << " (" << (r.bigEndian ? "big" : "little")
            << "-endian), " << n << (n == 1 ? " record" : " records") << "\n";
  if (f.repaired) std::cout << "recovered: the file's length did not match its header\n";
  for (SInt32 i = 0; i < n; ++i) {
    SInt32 size = 0;
    const void* data = QBaseGetRecord(base, i, &size);
    if (size != kCorvimusPrefsRecSize) {
      std::cout << "record " << i << ": " << size << " bytes, not a settings record\n";
      continue;
    }
    CorvimusPrefsRec rec;
    std::memcpy(&rec, data, sizeof rec);
    std::cout << DescribeRecord(rec, int(i));
  }
  return 0;
}

// Each value of the records that breaks a rule of the settings (out of range, undefined, the main
// click gone), one line each, fields named as in the JSON form: "records[1].speed: ...".
std::vector<std::string> RuleBreaks(const std::vector<CorvimusPrefsRec>& records) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < records.size(); ++i) {
    std::string where = "records[" + std::to_string(i) + "]";
    for (const PrefsRuleBreak& b : FindRuleBreaks(records[i], i == 0))
      lines.push_back(where + "." + b.field + ": " + b.problem);
    if (NeedsMainClick(SInt32(i), records[i]) && !HasMainClick(records[i]))
      lines.push_back(where + ": " + MainClickRuleText(SInt32(i)));
  }
  return lines;
}

// Says each line of a refusal, the last one ending in what was done about it.
int FailLines(const std::string& prefix, const std::vector<std::string>& lines,
              const std::string& ending) {
  for (size_t i = 0; i + 1 < lines.size(); ++i) Fail(kExitBad, prefix + lines[i]);
  return Fail(kExitBad, prefix + lines.back() + ending);
}

int Check(const Options& o) {
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kRead, &f, &rc)) return rc;
  const Target& t = f.target;
  const FileReport& r = f.report;
  if (!r.problem.empty()) return Fail(kExitBad, t.path + ": " + r.problem);
  if (std::vector<std::string> breaks = RuleBreaks(RecordsOf(f.base.get())); !breaks.empty())
    return FailLines(t.path + ": ", breaks, "");
  SInt32 n = QBaseCountRecords(f.base.get());
  std::cout << t.path << ": valid settings file, " << n << (n == 1 ? " record" : " records");
  if (r.empty)
    std::cout << " (empty file)";
  else
    std::cout << " (" << (r.bigEndian ? "big" : "little") << "-endian)";
  std::cout << "\n";
  return 0;
}

int Init(const Options& o) {
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kReplace, &f, &rc)) return rc;
  const Target& t = f.target;
  BasePtr base(NewMouseSettingsBase(4));
  if (!base) return Fail(kExitUsage, "out of memory");
  CorvimusPrefsRec defaults = PaneDefaultRecord();
  OSErr e = LoadMouseSettingsFromSpec(base.get(), nullptr, &defaults);
  if (e != noErr) return Fail(kExitUsage, "cannot make the default record: " + ErrorText(e));
  rc = WriteRecords(t, RecordsOf(base.get()));
  if (rc == 0) std::cout << "wrote " << t.path << " with the default record\n";
  return rc;
}

int Export(const Options& o) {
  if (o.args.size() != 1)
    return Fail(kExitUsage, "export needs one output file\n" + Usage());
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kRead, &f, &rc)) return rc;
  const FileReport& r = f.report;
  if (!r.problem.empty()) return Fail(kExitBad, f.target.path + ": " + r.problem);
  std::string json = PrefsDocumentToJson(r.bigEndian, RecordsOf(f.base.get()));
  const std::string& out = o.args[0];
  if (out == "-") {
    std::cout << json;
    return std::cout.good() ? 0 : Fail(kExitUsage, "cannot write to standard output");
  }
  // A sibling temporary file renamed into place: no half-written export. Only a regular file is
  // replaced so: what stands there else (a FIFO, a device) is not the user's to turn into a file.
  if (struct stat st; stat(out.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return Fail(kExitUsage, "cannot write " + out + ": " +
                                (S_ISDIR(st.st_mode) ? std::string("it is a folder")
                                                     : FileErrorText(notAFileErr, out)) +
                                "; - writes to standard output");
  std::string temp = out + ".tmp-" + std::to_string(getpid());
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << json;
    f.flush();
    if (!f) {
      std::remove(temp.c_str());
      return Fail(kExitUsage, "cannot write " + out);
    }
  }
  if (std::rename(temp.c_str(), out.c_str()) != 0) {
    std::remove(temp.c_str());
    return Fail(kExitUsage, "cannot write " + out + ": " + std::strerror(errno));
  }
  return 0;
}

int Import(const Options& o) {
  if (o.args.size() != 1) return Fail(kExitUsage, "import needs one input file\n" + Usage());
  const std::string& in = o.args[0];
  std::string text;
  {
    std::istream* stream = &std::cin;
    std::ifstream f;
    if (in != "-") {
      struct stat st;
      if (stat(in.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return Fail(kExitUsage, in + ": is a folder");
      f.open(in, std::ios::binary);
      if (!f) return Fail(kExitUsage, "cannot open " + in + ": " + std::strerror(errno));
      stream = &f;
    }
    std::vector<char> buf(1 << 16);
    while (*stream) {
      stream->read(buf.data(), std::streamsize(buf.size()));
      text.append(buf.data(), size_t(stream->gcount()));
      if (text.size() > kMaxJsonInput)
        return Fail(kExitBad, in + ": larger than " + std::to_string(kMaxJsonInput >> 20) +
                                  " MiB; nothing was written");
    }
  }
  std::vector<CorvimusPrefsRec> records;
  std::string error;
  if (!PrefsDocumentFromJson(text, &records, nullptr, &error))
    return Fail(kExitBad, in + ": " + error + "; nothing was written");
  // The settings pane would never write such values, and the agent would not pass them on.
  if (std::vector<std::string> breaks = RuleBreaks(records); !breaks.empty())
    return FailLines(in + ": ", breaks, "; nothing was written");
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kReplace, &f, &rc)) return rc;
  rc = WriteRecords(f.target, records);
  if (rc == 0)
    std::cout << "wrote " << records.size() << (records.size() == 1 ? " record" : " records")
              << " to " << f.target.path << "\n";
  return rc;
}

std::string FieldText(const unsigned char* field, int capacity) {
  return PascalText(field, capacity);
}

// The record of the application called NAME: by appName, then appFileName, then appName in any
// letter case. -1 (message printed) when there is none or more than one.
int FindApp(const std::vector<CorvimusPrefsRec>& records, const std::string& name, int* exitCode) {
  std::vector<int> hits;
  for (int pass = 0; pass < 3 && hits.empty(); ++pass) {
    for (size_t i = 1; i < records.size(); ++i) {
      const auto& r = records[i];
      std::string appName = FieldText(r.appName, 32), fileName = FieldText(r.appFileName, 64);
      bool match = false;
      if (pass == 0) match = appName == name;
      if (pass == 1) match = fileName == name;
      if (pass == 2 && name.size() <= 255) {
        Str255 p;
        p[0] = UInt8(name.size());
        std::memcpy(p + 1, name.data(), name.size());
        match = PStringCmp(p, r.appName) == 0;
      }
      if (match) hits.push_back(int(i));
    }
  }
  if (hits.empty()) {
    *exitCode = Fail(kExitBad,
                     "no application named \"" + name + "\" in the settings (add it with add-app)");
    return -1;
  }
  if (hits.size() > 1) {
    *exitCode = Fail(kExitBad, "more than one application is named \"" + name + "\"");
    return -1;
  }
  return hits[0];
}

// A whole number in [lo, hi], decimal or 0x hex.
bool ParseNumber(const std::string& s, long lo, long hi, long* out) {
  if (s.empty() || s.size() > 12) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s.c_str(), &end, s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0 ? 16 : 10);
  if (errno || !end || *end || s[0] == '-' || s[0] == '+' || s[0] == ' ') return false;
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseModifiers(const std::string& s, UInt16* out) {
  long v;
  if (ParseNumber(s, 0, 0xFFFF, &v)) {
    if (v & ~AllModifierBits()) return false;
    *out = UInt16(v);
    return true;
  }
  UInt16 bits = 0;
  // Names are joined with '-', '+' or ','; "caps-lock" is one name.
  std::string text;
  for (char c : s) text.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  for (size_t at; (at = text.find("caps-lock")) != std::string::npos;)
    text.replace(at, 9, "capslock");
  for (char& c : text)
    if (c == '+' || c == ',') c = '-';
  std::stringstream ss(text);
  std::string name;
  while (std::getline(ss, name, '-')) {
    UInt16 bit = FindModifierByWord(name);
    if (!bit) return false;
    bits |= bit;
  }
  *out = bits;
  return true;
}

bool ParseKey(const std::string& s, UInt8* out) {
  long v;
  if (ParseNumber(s, 0, 127, &v)) {
    *out = UInt8(v);
    return true;
  }
  std::string lower;
  for (char c : s) lower.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  for (int code = 0; code < 255; ++code) {
    std::string name = DescribeKeyCode(UInt8(code));
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (name.rfind("key ", 0) != 0 && name == lower) {
      *out = UInt8(code);
      return true;
    }
  }
  return false;
}

// The commands the pane can put into a slot.
bool IsOfferedCommand(long c) {
  const CommandInfo* info = c >= 0 && c <= 0xFFFF ? FindCommand(UInt16(c)) : nullptr;
  return info && info->menu != PaneMenu::kNone;
}

// A command by its word (or a word older versions took) or by its number.
bool ParseCommand(const std::string& s, UInt16* out) {
  if (const CommandInfo* info = FindCommandByWord(s)) {
    *out = info->code;
    return true;
  }
  long v;
  if (!ParseNumber(s, 0, 0xFFFF, &v)) return false;
  *out = UInt16(v);
  return true;
}

int Set(const Options& o) {
  const auto& a = o.args;
  if (a.size() != 2) return Fail(kExitUsage, "set needs a field and a value\n" + Usage());
  bool isField = a[0] == "speed" || a[0] == "acceleration" || a[0] == "active";
  if (isField && (o.modifiers || o.key || o.repeat))
    return Fail(kExitUsage, "--modifiers, --key and --repeat belong to an action slot");
  int slot = isField ? -1 : SlotFromText(a[0]);
  if (!isField && slot < 0)
    return Fail(kExitUsage, "\"" + a[0] +
                                "\" is neither speed, acceleration, active nor a slot "
                                "(C0-C7, RF, RB, PF, PB, their words such as tilt-left, or 0-15)");
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kEdit, &f, &rc)) return rc;
  std::vector<CorvimusPrefsRec>& records = f.records;
  int index = 0;
  if (o.app && (index = FindApp(records, *o.app, &rc)) < 0) return rc;
  CorvimusPrefsRec& r = records[size_t(index)];
  auto& d = r.device[0];
  long v;
  if (a[0] == "speed") {
    if (a[1] == "default")
      d.speed = 255;
    else if (ParseNumber(a[1], 8, 140, &v))
      d.speed = UInt8(v);
    else
      return Fail(kExitBad,
                  "speed: \"" + a[1] + "\" is not 8 to 140 or default; nothing was written");
  } else if (a[0] == "acceleration") {
    if (a[1] == "default")
      d.acceleration = 255;
    else if (ParseNumber(a[1], 0, 200, &v))
      d.acceleration = UInt8(v);
    else
      return Fail(kExitBad,
                  "acceleration: \"" + a[1] + "\" is not 0 to 200 or default; nothing was written");
  } else if (a[0] == "active") {
    if (a[1] != "0" && a[1] != "1")
      return Fail(kExitBad, "active: \"" + a[1] + "\" is not 0 or 1; nothing was written");
    r.active = a[1] == "1" ? 1 : 0;
  } else {
    UInt16 command;
    if (!ParseCommand(a[1], &command))
      return Fail(kExitBad, "\"" + a[1] + "\" is not a command; nothing was written");
    if (command == kCmdOpenApplication || command == kCmdOpenItem)
      return Fail(kExitBad,
                  "command " + std::to_string(command) +
                      " opens an item chosen in the settings pane; it cannot be set here");
    if (!IsOfferedCommand(command))
      return Fail(kExitBad,
                  "command " + std::to_string(command) + " does not exist; nothing was written");
    if (command == kCmdAsGlobal && index == 0)
      return Fail(
          kExitBad,
          "the global record cannot take an action from itself (command 1); nothing was written");
    bool click = command >= kCmdClickFirst && command <= kCmdClickLast;
    bool keystroke = command == kCmdKeystroke;
    bool counted = command >= 8 && command <= 11;
    CorvimusActionRec& act = d.action[slot];
    // As the pane does when an action is chosen: the slot starts over.
    act.command = command;
    act.modifiers = 0;
    act.keyCode = 255;
    act.repeat = 0;
    act.delay = 0;
    act.reserved1 = 0;
    act.reserved2 = 0;
    act.data[0] = 0;
    if (counted) act.repeat = 1;
    if (o.modifiers) {
      if (!click && !keystroke)
        return Fail(kExitBad, "--modifiers belongs to a click or a keystroke; nothing was written");
      if (!ParseModifiers(*o.modifiers, &act.modifiers))
        return Fail(kExitBad, "--modifiers: \"" + *o.modifiers +
                                  "\" is not a combination of ctrl, alt, shift, super, caps-lock, "
                                  "space; nothing was written");
    }
    if (o.key) {
      if (!keystroke)
        return Fail(kExitBad, "--key belongs to the keystroke command; nothing was written");
      if (!ParseKey(*o.key, &act.keyCode))
        return Fail(kExitBad,
                    "--key: \"" + *o.key +
                        "\" is not a key code 0 to 127 or a key name; nothing was written");
    } else if (keystroke) {
      return Fail(kExitBad, "a keystroke needs --key; nothing was written");
    }
    if (o.repeat) {
      if (!counted)
        return Fail(
            kExitBad,
            "--repeat belongs to commands 8 to 11 (scroll by a count); nothing was written");
      if (!ParseNumber(*o.repeat, 1, 30, &v))
        return Fail(kExitBad,
                    "--repeat: \"" + *o.repeat + "\" is not 1 to 30; nothing was written");
      act.repeat = UInt8(v);
    }
  }
  if (NeedsMainClick(index, r) && !HasMainClick(r))
    return Fail(kExitBad, "that leaves no main click: " + MainClickRuleText(index) +
                              "; nothing was written");
  return WriteRecords(f.target, records);
}

int AddApp(const Options& o) {
  if (o.args.size() != 1)
    return Fail(kExitUsage,
                "add-app needs a desktop entry id, a .desktop file or the application's path\n" +
                    Usage());
  corvimus::ApplicationChoice app;
  std::string error;
  if (!corvimus::DescribeApplication(o.args[0], &app, &error)) return Fail(kExitBad, error);
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kEdit, &f, &rc)) return rc;
  std::vector<CorvimusPrefsRec>& records = f.records;
  CorvimusPrefsRec r;
  bool haveGlobal = !records.empty() && records[0].application == 0;
  MakeApplicationRecord(app, haveGlobal ? &records[0] : nullptr, &r);
  records.push_back(r);
  std::stable_sort(
      records.begin(), records.end(),
      [](const CorvimusPrefsRec& a, const CorvimusPrefsRec& b) { return CompareByApp(a, b) < 0; });
  rc = WriteRecords(f.target, records);
  if (rc == 0)
    std::cout << "added \"" << FieldText(r.appName, 32) << "\" as " << FieldText(r.appFileName, 64)
              << " " << FourCCText(r.application) << "\n";
  return rc;
}

int RemoveApp(const Options& o) {
  if (o.args.size() != 1)
    return Fail(kExitUsage, "remove-app needs the application's name\n" + Usage());
  OpenedFile f;
  int rc = 0;
  if (!OpenSettingsFile(o, Access::kEdit, &f, &rc)) return rc;
  std::vector<CorvimusPrefsRec>& records = f.records;
  int index = FindApp(records, o.args[0], &rc);
  if (index < 0) return rc;
  records.erase(records.begin() + index);
  return WriteRecords(f.target, records);
}

// What the pane does after every save: the agent re-reads the user's settings file and hands the
// record for the front application to the mice. The agent reads only that file, so --file has no
// meaning here.
// Only this session's agent is asked: one of another session (another display or runtime folder)
// serves mice for someone else's desktop, and its event socket may not even be reachable from here.
int Apply(const Options& o) {
  if (o.file) return Fail(kExitUsage, "apply works on the user's own settings file; no --file");
  OSErr e = RequestDriverPrefsUpdate();
  if (e == procNotFound) {
    if (FindNamedProcessInAnySession(kCorvimusHelperName, nullptr) == noErr)
      return Fail(kExitBad,
                  "CorvimusHelper is not running in this session; the one that runs belongs to "
                  "another session (another display or runtime folder) and was left alone. Run "
                  "apply in that session, or with DISPLAY set to its display.");
    return Fail(kExitBad,
                "CorvimusHelper is not running in this session; it starts at login or when the "
                "Corvimus settings pane is opened, and reads the settings file as it starts.");
  }
  if (e != noErr)
    return Fail(kExitUsage, "CorvimusHelper runs in this session but did not take the request "
                            "(error " + std::to_string(e) + "); it may still be starting: try "
                            "again in a moment");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail(kExitUsage, "no command given\n" + Usage());
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << Usage();
    return 0;
  }
  Options o;
  bool endOfOptions = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::optional<std::string>* into) {
      if (i + 1 >= argc) return false;
      if (into->has_value()) return false;
      *into = argv[++i];
      return true;
    };
    bool ok = true;
    if (!endOfOptions && arg == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && arg == "--file") {
      ok = value(&o.file);
    } else if (!endOfOptions && arg == "--app" && command == "set") {
      ok = value(&o.app);
    } else if (!endOfOptions && arg == "--modifiers" && command == "set") {
      ok = value(&o.modifiers);
    } else if (!endOfOptions && arg == "--key" && command == "set") {
      ok = value(&o.key);
    } else if (!endOfOptions && arg == "--repeat" && command == "set") {
      ok = value(&o.repeat);
    } else if (!endOfOptions && arg == "--json" && command == "show") {
      o.json = true;
    } else if (!endOfOptions && arg == "--recover" && command == "show") {
      o.recover = true;
    } else if (!endOfOptions && arg.size() > 1 && arg[0] == '-' &&
               !(arg[1] >= '0' && arg[1] <= '9')) {
      return Fail(kExitUsage, "unknown option " + arg + " for " + command + "\n" + Usage());
    } else {
      o.args.push_back(arg);
    }
    if (!ok) return Fail(kExitUsage, arg + " needs one value\n" + Usage());
  }
  if (o.file && o.file->empty()) return Fail(kExitUsage, "--file needs a path");
  bool noArgs = command == "show" || command == "check" || command == "init" || command == "apply";
  if (noArgs && !o.args.empty())
    return Fail(kExitUsage, "unexpected argument " + o.args[0] + "\n" + Usage());
  if (command == "show") return Show(o);
  if (command == "check") return Check(o);
  if (command == "init") return Init(o);
  if (command == "export") return Export(o);
  if (command == "import") return Import(o);
  if (command == "set") return Set(o);
  if (command == "add-app") return AddApp(o);
  if (command == "remove-app") return RemoveApp(o);
  if (command == "apply") return Apply(o);
  return Fail(kExitUsage, "unknown command " + command + "\n" + Usage());
}
