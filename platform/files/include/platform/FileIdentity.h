// Acting on files as another user. A program run as root that edits or deletes things inside a
// user's home folder must not be steered by that user (or by anyone else who may write there) into
// touching what the user could not touch himself. So the work in a home folder runs in a child
// process that has given up root for good: it holds the user's IDs and groups and nothing else, so
// every file system access, and every parse of the user's files, happens with those rights.
// Changing only the file system IDs of the root process (setfsuid) would cover the permission
// checks but leave the parsing of files the user wrote running as root. A process that is not root
// keeps its own rights, which are no more than its own.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus {

// The rights a child process takes on: user ID, primary group and supplementary groups.
struct UserRights {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

// Whose rights the work in the home folder held open as homeFd (named `name` in the Users folder)
// is done with. For a folder owned by a user other than root, that user's: his primary group and
// groups from the user database, or, for an ID it does not know, the folder's group alone. A folder
// owned by root (made by root for a user, or a shared folder) is the home of the user of the same
// name whose home folder the user database says it is; when there is no such user, permErr: nobody
// but root could be named, and root's rights are never used inside a home. A process that is not
// root gets its own rights.
OSErr RightsForHomeFolder(int homeFd, const std::string& name, UserRights* rights);

// Runs work in a child process holding only `rights` (when this process is root) and waits for it,
// at most a minute: a child stopped by the user it runs as is killed. Returns work's status and
// passes on the one value work set (*value, may be null); ioErr when the child ended without an
// answer, permErr when the rights could not be taken on. The child never returns into the caller's
// code: it ends with _exit once work is done.
OSErr RunWithRights(const UserRights& rights, const std::function<OSErr(SInt32* value)>& work,
                    SInt32* value);

}  // namespace corvimus
