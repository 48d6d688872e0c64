#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/EventLoop.h"

namespace {

struct Log {
  std::vector<std::string> entries;
  int ticks = 0;
  int quitAfter = 0;
  EventLoopTimerRef self = nullptr;
};

void CountAndQuit(EventLoopTimerRef, void* data) {
  auto* log = static_cast<Log*>(data);
  log->entries.push_back("tick");
  if (++log->ticks == log->quitAfter) QuitApplicationEventLoop();
}

void Quit(EventLoopTimerRef, void*) {
  QuitApplicationEventLoop();
}

void RemoveSelf(EventLoopTimerRef timer, void* data) {
  auto* log = static_cast<Log*>(data);
  log->entries.push_back("once");
  EXPECT_EQ(RemoveEventLoopTimer(timer), noErr);
}

TEST(EventLoop, RepeatingTimerFiresUntilTheLoopIsQuit) {
  Log log;
  log.quitAfter = 3;
  EventLoopTimerRef timer;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0.01, CountAndQuit, &log, &timer), noErr);
  RunApplicationEventLoop();
  EXPECT_EQ(log.ticks, 3);
  EXPECT_EQ(RemoveEventLoopTimer(timer), noErr);
  EXPECT_EQ(RemoveEventLoopTimer(timer), paramErr);
}

TEST(EventLoop, TimersFireInOrderOfTheirDelaysAndOneShotsOnlyOnce) {
  Log early, late, once;
  early.quitAfter = -1;
  EventLoopTimerRef a, b, c, stop;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0.001, 0, CountAndQuit, &early, &a), noErr);
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0.005, 0, RemoveSelf, &once, &b), noErr);
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0.08, 0, Quit, nullptr, &stop), noErr);
  (void)c;
  (void)late;
  RunApplicationEventLoop();
  EXPECT_EQ(early.ticks, 1);  // interval 0: once, though installed the whole time
  EXPECT_EQ(once.entries, std::vector<std::string>{"once"});
  EXPECT_EQ(RemoveEventLoopTimer(a), noErr);
  EXPECT_EQ(RemoveEventLoopTimer(b), paramErr);  // removed itself
  EXPECT_EQ(RemoveEventLoopTimer(stop), noErr);
}

TEST(EventLoop, RejectsBadArguments) {
  EventLoopTimerRef t;
  EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), -1, 0, Quit, nullptr, &t), paramErr);
  EXPECT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0, nullptr, nullptr, &t), paramErr);
  EXPECT_EQ(InstallEventLoopTimer(nullptr, 0, 0, Quit, nullptr, &t), paramErr);
  EXPECT_EQ(InstallEventLoopSource(GetMainEventLoop(), -1, nullptr, nullptr, nullptr), paramErr);
  EXPECT_EQ(InstallEventLoopSignalHandler(SIGKILL, [](int) {}), paramErr);
}

TEST(EventLoop, PostponedTimerWaitsForItsNewTime) {
  Log log;
  log.quitAfter = 1;
  EventLoopTimerRef timer, first;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0, 0, CountAndQuit, &log, &timer), noErr);
  ASSERT_EQ(SetEventLoopTimerNextFireTime(timer, kEventDurationForever), noErr);
  Log other;
  other.quitAfter = 1;
  ASSERT_EQ(InstallEventLoopTimer(GetMainEventLoop(), 0.02, 0, CountAndQuit, &other, &first),
            noErr);
  RunApplicationEventLoop();
  EXPECT_EQ(log.ticks, 0);
  EXPECT_EQ(other.ticks, 1);
  ASSERT_EQ(SetEventLoopTimerNextFireTime(timer, 0), noErr);
  RunApplicationEventLoop();
  EXPECT_EQ(log.ticks, 1);
  RemoveEventLoopTimer(timer);
  RemoveEventLoopTimer(first);
}

struct PipeReader {
  std::string got;
  EventLoopSourceRef source = nullptr;
};

void ReadPipe(EventLoopSourceRef source, int fd, void* data) {
  auto* r = static_cast<PipeReader*>(data);
  char buf[64];
  ssize_t n = read(fd, buf, sizeof buf);
  if (n <= 0) {
    RemoveEventLoopSource(source);
    QuitApplicationEventLoop();
    return;
  }
  r->got.append(buf, size_t(n));
}

TEST(EventLoop, SourceDeliversWhatArrivesOnItsDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  PipeReader reader;
  ASSERT_EQ(InstallEventLoopSource(GetMainEventLoop(), fds[0], ReadPipe, &reader, &reader.source),
            noErr);
  EXPECT_EQ(InstallEventLoopSource(GetMainEventLoop(), fds[0], ReadPipe, &reader, nullptr),
            paramErr);
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  close(fds[1]);
  RunApplicationEventLoop();
  EXPECT_EQ(reader.got, "abc");
  EXPECT_EQ(RemoveEventLoopSource(reader.source), paramErr);  // removed by its own procedure
  close(fds[0]);
}

int gSignalsSeen = 0;
void OnUsr1(int signo) {
  EXPECT_EQ(signo, SIGUSR1);
  ++gSignalsSeen;
  QuitApplicationEventLoop();
}

TEST(EventLoop, SignalHandlerRunsFromTheLoopEvenWhenTheSignalCameFirst) {
  ASSERT_EQ(InstallEventLoopSignalHandler(SIGUSR1, OnUsr1), noErr);
  raise(SIGUSR1);
  EXPECT_EQ(gSignalsSeen, 0);  // not from the signal context
  RunApplicationEventLoop();
  EXPECT_EQ(gSignalsSeen, 1);
}

}  // namespace
