#include "output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Outputs a program has open at once: a handful.
constexpr int MaxTemporaries = 8;
// Longest temporary path the signal handler can hold.
constexpr std::size_t MaxPathBytes = 4096;
// Symbolic links followed to find the file an output replaces (the kernel's own limit).
constexpr int MaxLinkHops = 40;

// Signals whose default action ends the program (none of them SIGKILL or
// SIGSTOP, which cannot be caught).
constexpr int EndingSignals[] = {
    SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2,
    SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// A temporary the signal handler removes. The path is written while the
// slot is Claimed and read by the handler only when it is Ready.
enum SlotState : int { Free = 0, Claimed = 1, Ready = 2 };
struct TemporarySlot {
  std::atomic<int> state{Free};
  char path[MaxPathBytes];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

// The module's state.
struct OutputState {
  std::array<TemporarySlot, MaxTemporaries> temporaries;
};
OutputState State;

std::string Failure(const std::string& name, const std::string& what, int error) {
  return name + ": " + what + " (" + std::generic_category().message(error) + ")";
}

int Register(const std::string& path) {
  if (path.size() >= MaxPathBytes) return -1;
  for (int i = 0; i < MaxTemporaries; ++i) {
    TemporarySlot& slot = State.temporaries[i];
    int expected = Free;
    if (!slot.state.compare_exchange_strong(expected, Claimed)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(Ready, std::memory_order_release);
    return i;
  }
  return -1;
}

void Release(int slot) {
  if (slot >= 0) State.temporaries[slot].state.store(Free, std::memory_order_release);
}

// Blocks the ending signals in this thread while a temporary is created and
// registered, so that none is left between the two.
struct SignalsHeld {
  sigset_t saved;
  SignalsHeld() {
    sigset_t all;
    sigemptyset(&all);
    for (int signal : EndingSignals) sigaddset(&all, signal);
    pthread_sigmask(SIG_BLOCK, &all, &saved);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
};

// The file a name leads to through symbolic links (the name itself when it
// is no link); a dangling link leads to the name it points at.
fs::path FollowLinks(const fs::path& name) {
  fs::path path = name;
  for (int hop = 0; hop < MaxLinkHops; ++hop) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(path, error))) break;
    const fs::path link = fs::read_symlink(path, error);
    if (error) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A descriptor of this process's standard output or error that is the file
// `info` describes, or -1.
int StandardStreamOf(const struct stat& info) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat open {};
    if (fstat(fd, &open) == 0 && SameInode(open, info)) return fd;
  }
  return -1;
}

std::string OpenTemporary(const std::string& name, const struct stat* existing, OutputFile& out) {
  const fs::path target = FollowLinks(name);
  const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const std::string extension = target.extension().string();
  std::string temporary =
      (directory / ("." + target.stem().string() + ".partial-XXXXXX" + extension)).string();
  {
    const SignalsHeld held;
    out.fd = mkostemps(temporary.data(), int(extension.size()), O_CLOEXEC);
    if (out.fd < 0) return Failure(name, "cannot create a temporary file in " + directory.string(), errno);
    out.slot = Register(temporary);
  }
  out.temporary = temporary;
  out.target = target.string();
  if (out.slot < 0) {
    DiscardOutput(out);
    return name + ": too many outputs open at once, or a path too long";
  }
  if (existing != nullptr) {
    // The owner first: giving a file away clears its set-id bits.
    if (fchown(out.fd, existing->st_uid, existing->st_gid) != 0) {
      // Not allowed (not root, or not one of the file's groups): the file becomes the writer's.
    }
    if (fchmod(out.fd, existing->st_mode & 07777) != 0) {
      const int error = errno;
      DiscardOutput(out);
      return Failure(name, "cannot give the new file the old one's mode", error);
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(out.fd, 0666 & ~mask) != 0) {  // the permissions an ordinary create would give
      const int error = errno;
      DiscardOutput(out);
      return Failure(name, "cannot set its mode", error);
    }
  }
  return {};
}

extern "C" void RemoveAndEnd(int signal) {
  const int saved = errno;
  RemoveOutputTemporaries();
  errno = saved;
  // SA_RESETHAND has given the signal its default action back; raised again,
  // it ends the program as soon as this handler returns.
  raise(signal);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat infoA {}, infoB {};
  const bool existsA = stat(a.c_str(), &infoA) == 0, existsB = stat(b.c_str(), &infoB) == 0;
  if (existsA && existsB) return SameInode(infoA, infoB);
  if (existsA != existsB) return false;
  std::error_code errorA, errorB;
  const fs::path placeA = fs::weakly_canonical(a, errorA), placeB = fs::weakly_canonical(b, errorB);
  return !errorA && !errorB && placeA == placeB;
}

std::string CheckOutputName(const std::string& name, std::span<const std::string> others) {
  struct stat info {};
  // Writing to a device or a pipe that is also read destroys nothing.
  if (stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return {};
  for (const std::string& other : others)
    if (SameFile(name, other))
      return name + ": is the same file as " + other + ", which writing it would destroy; nothing written";
  return {};
}

std::string OpenOutput(const std::string& name, std::span<const std::string> others, OutputFile& out) {
  out = OutputFile{};
  out.name = name;
  if (std::string reason = CheckOutputName(name, others); !reason.empty()) return reason;
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) {
    if (errno != ENOENT) return Failure(name, "cannot be examined", errno);
    return OpenTemporary(name, nullptr, out);
  }
  if (const int stream = StandardStreamOf(info); stream >= 0) {
    out.fd = fcntl(stream, F_DUPFD_CLOEXEC, 3);
    return out.fd < 0 ? Failure(name, "cannot be written", errno) : std::string();
  }
  if (S_ISDIR(info.st_mode)) return Failure(name, "cannot be written", EISDIR);
  if (S_ISREG(info.st_mode)) return OpenTemporary(name, &info, out);
  out.fd = open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  return out.fd < 0 ? Failure(name, "cannot be opened for writing", errno) : std::string();
}

std::string CommitOutput(OutputFile& out) {
  std::string reason;
  // Synced before the rename, so that the old file is never replaced by one
  // whose blocks have not reached the disk.
  if (!out.temporary.empty() && fsync(out.fd) != 0) reason = Failure(out.name, "cannot be written", errno);
  if (close(out.fd) != 0 && reason.empty()) reason = Failure(out.name, "cannot be written", errno);
  out.fd = -1;
  if (out.temporary.empty()) return reason;
  if (reason.empty() && std::rename(out.temporary.c_str(), out.target.c_str()) != 0)
    reason = Failure(out.name, "cannot be renamed into place from " + out.temporary, errno);
  if (!reason.empty()) unlink(out.temporary.c_str());
  Release(out.slot);
  out.slot = -1;
  out.temporary.clear();
  return reason;
}

void DiscardOutput(OutputFile& out) {
  if (out.fd >= 0) close(out.fd);
  out.fd = -1;
  if (out.temporary.empty()) return;
  unlink(out.temporary.c_str());
  Release(out.slot);
  out.slot = -1;
  out.temporary.clear();
}

std::string WriteOutput(const std::string& name, std::span<const std::string> others,
                        const std::function<std::string(std::FILE*)>& write) {
  OutputFile out;
  if (std::string reason = OpenOutput(name, others, out); !reason.empty()) return reason;
  // The stream has a descriptor of its own, so that closing it leaves the
  // output open for CommitOutput.
  const int fd = fcntl(out.fd, F_DUPFD_CLOEXEC, 3);
  std::FILE* stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) {
    const int error = errno;
    if (fd >= 0) close(fd);
    DiscardOutput(out);
    return Failure(name, "cannot be written", error);
  }
  // A failed write of the stream is told with the system's reason (a full
  // disk, a file size limit), whatever the writer made of it.
  errno = 0;
  const std::string problem = write(stream);
  std::string reason;
  if (std::ferror(stream) || std::fflush(stream) != 0)
    reason = errno != 0 ? Failure(name, "cannot be written", errno) : name + ": cannot be written";
  else if (!problem.empty())
    reason = name + ": " + problem;
  if (std::fclose(stream) != 0 && reason.empty()) reason = Failure(name, "cannot be written", errno);
  if (!reason.empty()) {
    DiscardOutput(out);
    return reason;
  }
  return CommitOutput(out);
}

void RemoveOutputsOnSignals() {
  for (const int signal : EndingSignals) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0) continue;
    // Ignored (nohup) or handled by the program: left as it is.
    if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = RemoveAndEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

void RemoveOutputTemporaries() {
  for (TemporarySlot& slot : State.temporaries)
    if (slot.state.load(std::memory_order_acquire) == Ready) unlink(slot.path);
}
