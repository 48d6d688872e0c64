// Shared helpers for the test programs: a temporary folder that cleans up after itself and a way to
// run a program and collect what it printed.
#pragma once

#include <string>
#include <vector>

namespace corvimus::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes bytes to a file, replacing it; fails the current test on error.
void WriteFile(const std::string& path, const std::string& bytes);
// Reads a whole file; returns false when it cannot be read.
bool ReadFile(const std::string& path, std::string* bytes);

struct RunResult {
  int exitCode = -1;  // the exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs argv[0] with the arguments, standard input from `input`, extra environment entries
// ("NAME=value") added to the current environment; waits at most timeoutMs.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& input = {},
                     const std::vector<std::string>& extraEnv = {}, int timeoutMs = 30000);

}  // namespace corvimus::testing
