#include <sys/stat.h>

#include <cerrno>

#include "FileErrors.h"
#include "platform/FileRefs.h"
#include "platform/Files.h"

using namespace corvimus;

OSErr FSpOpenDF(const FSSpec* spec, SInt8 permission, SInt16* refNum) {
  if (!refNum) return paramErr;
  std::string path;
  if (OSErr e = FSSpecToPath(spec, &path); e != noErr) return e;
  if (spec->name[0] == 0) return bdNamErr;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return MacErrorFromErrno(errno);
  // A folder has no data fork.
  if (S_ISDIR(st.st_mode)) return fnfErr;
  return FSOpenPath(path.c_str(), permission, refNum);
}
