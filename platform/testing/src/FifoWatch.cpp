#include "testing/FifoWatch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace corvimus::testing {

FifoWatch::FifoWatch(const std::string& path) : path_(path) {
  if (mkfifo(path.c_str(), 0644) != 0)
    ADD_FAILURE() << "cannot make the FIFO " << path << ": " << std::strerror(errno);
  thread_ = std::thread([this] { Watch(); });
}

FifoWatch::~FifoWatch() {
  stop_ = true;
  thread_.join();
}

bool FifoWatch::StillAFifo() const {
  struct stat st;
  return lstat(path_.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

void FifoWatch::Watch() {
  while (!stop_) {
    // Opening the writing end without waiting succeeds exactly when a reader has the FIFO open.
    int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      struct stat st;
      if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) ++readers_;
      close(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace corvimus::testing
