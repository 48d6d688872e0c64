// A user account that lives as long as the object, for tests and benchmarks whose programs refuse
// to run as root (a compositor) or must run as someone other than the caller. Running as root it
// makes the account (useradd, no home folder made) and removes it afterwards, ending every process
// the account still has; running as anyone else it stands for the caller itself.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvimus::testing {

class ThrowawayUser {
 public:
  ThrowawayUser() = default;
  ~ThrowawayUser();
  ThrowawayUser(const ThrowawayUser&) = delete;
  ThrowawayUser& operator=(const ThrowawayUser&) = delete;

  // `home` is written into the account; false with a reason when the account cannot be made.
  bool Create(const std::string& home, std::string* whyNot = nullptr);
  // The argv that runs `argv` as the account (unchanged when it is the caller).
  std::vector<std::string> Wrap(const std::vector<std::string>& argv) const;
  // Gives the account everything below `root` (nothing when it is the caller).
  void Own(const std::string& root) const;
  // Ends every process of the account, by pid (nothing when it is the caller).
  void EndProcesses() const;

  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }

 private:
  std::string name_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool made_ = false;
};

// The program's path in the usual system folders; empty when it is not installed.
std::string SystemProgram(const std::string& name);

}  // namespace corvimus::testing
