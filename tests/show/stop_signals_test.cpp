// How the desktop program ends on signals, each case in a child process: a
// request to end sets the stop flag and the program goes on to its shutdown;
// after the shutdown the other ending signals end it by themselves; a second
// signal ends it at once; ignored signals stay ignored; the error box's
// process dies with the program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "stop_signals.h"

namespace {

constexpr int StillRunning = 42;  // the child's exit code when it outlived the signals

// Runs body in a child and returns its wait status.
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(StillRunning);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

testing::AssertionResult EndedBy(int status, int signal) {
  if (WIFSIGNALED(status) && WTERMSIG(status) == signal) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "status " << status << ", expected the end by signal " << signal;
}

TEST(StopSignals, ARequestToEndSetsTheFlagAndTheProgramGoesOnToItsShutdown) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const int status = InChild([signal] {
      CatchStopSignals();
      raise(signal);
      if (!StopFlag) _exit(1);
      ReleaseStopSignals();
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == StillRunning) << signal << ": " << status;
  }
}

TEST(StopSignals, OtherEndingSignalsEndTheProgramAfterItsShutdown) {
  for (int signal : {SIGQUIT, SIGUSR1, SIGALRM, SIGXFSZ, SIGPIPE}) {
    const int status = InChild([signal] {
      CatchStopSignals();
      raise(signal);
      if (!StopFlag) _exit(1);
      struct rlimit none {};
      setrlimit(RLIMIT_CORE, &none);
      ReleaseStopSignals();  // ends here
    });
    EXPECT_TRUE(EndedBy(status, signal));
  }
}

TEST(StopSignals, ASecondSignalEndsTheProgramAtOnce) {
  const int status = InChild([] {
    CatchStopSignals();
    raise(SIGTERM);
    raise(SIGHUP);
  });
  EXPECT_TRUE(EndedBy(status, SIGHUP));
}

TEST(StopSignals, SignalsIgnoredAtTheStartStayIgnored) {
  const int status = InChild([] {
    signal(SIGHUP, SIG_IGN);
    CatchStopSignals();
    raise(SIGHUP);
    if (StopFlag) _exit(1);
    ReleaseStopSignals();
    raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == StillRunning) << status;
}

// A crash signal sent from outside still ends the program (the guardian is
// told first; here there is none).
TEST(StopSignals, ACrashSignalTakesItsEarlierCourse) {
  const int status = InChild([] {
    struct rlimit none {};
    setrlimit(RLIMIT_CORE, &none);
    signal(SIGSEGV, SIG_DFL);
    CatchStopSignals();
    kill(getpid(), SIGSEGV);
  });
  EXPECT_TRUE(EndedBy(status, SIGSEGV));
}

// The box's process is orphaned when the program ends; this test takes it in
// (a subreaper) to see how it ended.
TEST(StopSignals, ChildrenForkedForTheBoxDieWithTheProgram) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int pipeEnds[2], ready[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(pipe(ready), 0);
  const int status = InChild([&] {
    ChildrenDieWithProgram(true);
    const pid_t box = fork();
    if (box == 0) {
      if (write(ready[1], "", 1) != 1) _exit(1);
      pause();  // the box waiting for a click
      _exit(0);
    }
    ChildrenDieWithProgram(false);
    char up = 0;
    if (read(ready[0], &up, 1) != 1 || write(pipeEnds[1], &box, sizeof box) != sizeof box) _exit(1);
    _exit(StillRunning);
  });
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  pid_t box = 0;
  ASSERT_EQ(read(pipeEnds[0], &box, sizeof box), ssize_t(sizeof box));
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  int boxStatus = 0;
  pid_t ended = 0;
  for (int i = 0; i < 500 && ended == 0; ++i) {
    ended = waitpid(box, &boxStatus, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  if (ended == 0) {
    kill(box, SIGKILL);
    waitpid(box, &boxStatus, 0);
    FAIL() << "the box's process outlived the program";
  }
  EXPECT_TRUE(EndedBy(boxStatus, SIGKILL));
}

}  // namespace
