#include "stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "display_guardian.h"

std::atomic<bool> StopFlag{false};

namespace {

constexpr int CloseSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int EndSignals[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                              SIGXCPU, SIGXFSZ, SIGPIPE, SIGPOLL, SIGPWR,    SIGSTKFLT};
constexpr int CrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS};

struct SignalState {
  bool caught = false;
  std::array<bool, NSIG> handled{};
  std::array<struct sigaction, NSIG> previous{};
  std::atomic<int> first{0};  // the first signal that asked the program to end
  std::atomic<bool> childrenDie{false};
  pid_t program = 0;
};
SignalState Signals;

bool IsEndSignal(int signal) { return std::ranges::find(EndSignals, signal) != std::end(EndSignals); }

// Async-signal-safe: atomics, sigaction and raise only.
void EndNow(int signal) {
  sigaction(signal, &Signals.previous[signal], nullptr);
  raise(signal);  // pending until the handler returns, then its earlier action
}

extern "C" void OnEndingSignal(int signal) {
  int none = 0;
  if (!Signals.first.compare_exchange_strong(none, signal)) EndNow(signal);
  StopFlag.store(true);
}

// A fault raised by the program itself (si_code > 0) happens again when the
// handler returns, now with the earlier action and the fault's own details;
// one sent from outside is sent again.
extern "C" void OnCrashSignal(int signal, siginfo_t* info, void*) {
  AlarmDisplayGuardian();
  sigaction(signal, &Signals.previous[signal], nullptr);
  if (info == nullptr || info->si_code <= 0) raise(signal);
}

void Catch(int signal, void (*handler)(int), void (*crashHandler)(int, siginfo_t*, void*)) {
  struct sigaction old {};
  if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (crashHandler) {
    action.sa_flags |= SA_SIGINFO;
    action.sa_sigaction = crashHandler;
  } else {
    action.sa_handler = handler;
  }
  if (sigaction(signal, &action, nullptr) != 0) return;
  Signals.previous[signal] = old;
  Signals.handled[signal] = true;
}

void InForkedChild() {
  if (!Signals.childrenDie.load()) return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != Signals.program) _exit(1);  // the program ended before that took hold
}

}  // namespace

void CatchStopSignals() {
  if (Signals.caught) return;
  Signals.caught = true;
  Signals.first = 0;
  StopFlag = false;
  for (int signal : CloseSignals) Catch(signal, OnEndingSignal, nullptr);
  for (int signal : EndSignals) Catch(signal, OnEndingSignal, nullptr);
  for (int signal : CrashSignals) Catch(signal, nullptr, OnCrashSignal);
}

void ReleaseStopSignals() {
  if (!Signals.caught) return;
  Signals.caught = false;
  for (int signal = 1; signal < NSIG; ++signal)
    if (std::exchange(Signals.handled[signal], false)) sigaction(signal, &Signals.previous[signal], nullptr);
  if (const int signal = Signals.first.load(); IsEndSignal(signal)) raise(signal);
}

void ChildrenDieWithProgram(bool on) {
  static const int registered = pthread_atfork(nullptr, nullptr, InForkedChild);
  (void)registered;
  Signals.program = getpid();
  Signals.childrenDie = on;
}
