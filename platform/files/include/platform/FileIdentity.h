// Acting on files as another user. A program run as root that edits or deletes things inside a
// user's home folder must not be steered by that user (a symbolic link to a system file, a folder
// swapped for a link between a look-up and a deletion) into touching what the user could not touch
// himself. While a FileIdentity is in force, every file system access of the process is checked
// against the rights of the given user (Linux's file system user and group IDs, with no
// supplementary groups), and files it creates belong to that user. For a process that is not root
// it does nothing: such a process has no rights beyond its own anyway.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/MacTypes.h"

namespace corvimus {

class FileIdentity {
 public:
  FileIdentity() = default;
  ~FileIdentity() { Restore(); }
  FileIdentity(const FileIdentity&) = delete;
  FileIdentity& operator=(const FileIdentity&) = delete;

  // Takes on the identity of the owner of the item at path (not followed when it is a link).
  // noErr when in force (or when nothing needed to change), else the error and nothing changed.
  OSErr AssumeOwnerOf(const std::string& path);
  // Back to the process's own identity; done by the destructor too.
  void Restore();

 private:
  bool active_ = false;
  uid_t savedUid_ = 0;
  gid_t savedGid_ = 0;
  std::vector<gid_t> savedGroups_;
};

}  // namespace corvimus
