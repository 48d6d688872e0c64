// A program registered as a login item by the tests: it notes its start in "<its own path>.log"
// and then waits to be ended (at most a minute, should a test fail to end it).
#include <unistd.h>

#include <climits>
#include <cstdio>

int main() {
  // Let go of the launcher's output so whoever reads it sees the end once the launcher exits.
  std::freopen("/dev/null", "w", stdout);
  std::freopen("/dev/null", "w", stderr);
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 5);
  if (n <= 0) return 1;
  self[n] = '\0';
  std::snprintf(self + n, 5, ".log");
  if (FILE* log = std::fopen(self, "a")) {
    std::fprintf(log, "%d\n", int(getpid()));
    std::fclose(log);
  }
  for (int i = 0; i < 60; ++i) sleep(1);
  return 0;
}
