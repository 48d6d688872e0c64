#include "Seat.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <systemd/sd-login.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace corvimus {

namespace {

class LogindSeat : public SeatWatcher {
 public:
  explicit LogindSeat(sd_login_monitor* monitor) : monitor_(monitor) {}
  ~LogindSeat() override { sd_login_monitor_unref(monitor_); }
  int Descriptor() const override { return sd_login_monitor_get_fd(monitor_); }
  SeatUser Current() override {
    sd_login_monitor_flush(monitor_);
    SeatUser user;
    char* session = nullptr;
    uid_t uid = 0;
    if (sd_seat_get_active("seat0", &session, &uid) >= 0 && session) {
      user.uid = static_cast<UInt32>(uid);
      char* desktop = nullptr;
      if (sd_session_get_desktop(session, &desktop) >= 0 && desktop) {
        user.desktop = desktop;
        std::free(desktop);
      }
    }
    std::free(session);
    return user;
  }

 private:
  sd_login_monitor* monitor_;
};

class FileSeat : public SeatWatcher {
 public:
  FileSeat(const std::string& path, int fd) : path_(path), fd_(fd) {}
  ~FileSeat() override { close(fd_); }
  int Descriptor() const override { return fd_; }
  SeatUser Current() override {
    char buf[4096];
    while (read(fd_, buf, sizeof buf) > 0) {
    }
    std::string text;
    int file = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (file >= 0) {
      ssize_t n = read(file, buf, sizeof buf - 1);
      if (n > 0) text.assign(buf, static_cast<size_t>(n));
      close(file);
    }
    return ParseSeatFile(text);
  }

 private:
  std::string path_;
  int fd_;
};

}  // namespace

std::unique_ptr<SeatWatcher> WatchLogindSeat() {
  sd_login_monitor* monitor = nullptr;
  if (sd_login_monitor_new(nullptr, &monitor) < 0 || !monitor) return nullptr;
  return std::make_unique<LogindSeat>(monitor);
}

std::unique_ptr<SeatWatcher> WatchSeatFile(const std::string& path) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return nullptr;
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (inotify_add_watch(fd, folder.c_str(),
                        IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE) < 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<FileSeat>(path, fd);
}

// Split by hand rather than with a string stream: streams would bring the C++ library's locale
// machinery into a program that stays resident all the time.
SeatUser ParseSeatFile(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (words.size() < 3) {
    at = text.find_first_not_of(" \t\r\n", at);
    if (at == std::string::npos) break;
    size_t end = text.find_first_of(" \t\r\n", at);
    words.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end;
  }
  SeatUser user;
  if (words.empty() || words.size() > 2 || words[0].size() > 10) return user;
  for (char c : words[0])
    if (c < '0' || c > '9') return user;
  unsigned long uid = std::strtoul(words[0].c_str(), nullptr, 10);
  if (uid >= 0xFFFFFFFFul) return user;
  user.uid = static_cast<UInt32>(uid);
  if (words.size() == 2) user.desktop = words[1];
  return user;
}

}  // namespace corvimus
