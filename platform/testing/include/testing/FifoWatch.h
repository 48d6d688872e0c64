// A FIFO put where a file belongs, watched while code that must never wait on it runs. Opening a
// FIFO to read waits until some writer comes, so code that did would hang the test; the watch is
// that writer: from a thread of its own it notices every reader at once, lets it go (it reads the
// end of file) and remembers that there was one. A test then asserts that there was none, with no
// time limit involved.
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace corvimus::testing {

class FifoWatch {
 public:
  // Makes the FIFO at `path` (fails the current test when it cannot) and starts watching it.
  explicit FifoWatch(const std::string& path);
  ~FifoWatch();
  FifoWatch(const FifoWatch&) = delete;
  FifoWatch& operator=(const FifoWatch&) = delete;

  const std::string& path() const { return path_; }
  // Whether anything opened the FIFO to read since the watch began.
  bool ReaderSeen() const { return readers_ > 0; }
  // Whether the item at path() is still a FIFO (a save may have replaced it).
  bool StillAFifo() const;

 private:
  void Watch();

  std::string path_;
  std::atomic<int> readers_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace corvimus::testing
