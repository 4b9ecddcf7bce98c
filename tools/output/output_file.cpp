#include "output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Outputs and folders a program has open at once: a handful.
constexpr int MaxTemporaries = 8;
// Longest temporary path the signal handler can hold.
constexpr std::size_t MaxPathBytes = 4096;
// Symbolic links followed to find the file an output replaces (the kernel's own limit).
constexpr int MaxLinkHops = 40;
// Tries of a rename whose target appears or goes between two calls.
constexpr int MaxRenameTries = 4;

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
// Of those, the ones a fault raises: the faulting code cannot go on, so
// they cannot wait for a rename to finish.
constexpr int FaultSignals[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

// What a registered temporary is, and so how it is removed.
enum SlotKind : int { FileSlot, PartialFolderSlot, MadeFolderSlot };

// A temporary the signal handler removes. The path is written while the
// slot is Claimed and read by the handler only when it is Ready.
enum SlotState : int { Free = 0, Claimed = 1, Ready = 2 };
struct TemporarySlot {
  std::atomic<int> state{Free};
  int kind = FileSlot;
  char path[MaxPathBytes];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the slots");

// The module's state.
struct OutputState {
  std::array<TemporarySlot, MaxTemporaries> temporaries;
  std::atomic<int> waiting{0};        // SignalsWait guards alive: signals wait
  std::atomic<int> pendingSignal{0};  // a signal that arrived meanwhile
};
OutputState State;

int Register(const std::string& path, SlotKind kind) {
  if (path.size() >= MaxPathBytes) return -1;
  for (int i = 0; i < MaxTemporaries; ++i) {
    TemporarySlot& slot = State.temporaries[i];
    int expected = Free;
    if (!slot.state.compare_exchange_strong(expected, Claimed)) continue;
    slot.kind = kind;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(Ready, std::memory_order_release);
    return i;
  }
  return -1;
}

void Release(int slot) {
  if (slot >= 0) State.temporaries[slot].state.store(Free, std::memory_order_release);
}

// Removes the files of a folder (not its subfolders), with system calls only:
// the signal handler calls it.
void RemoveFilesIn(const char* folder) {
#ifdef __linux__
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  alignas(8) char entries[4096];
  // Removing entries while reading the folder may skip some: read it again
  // from the start until a pass removes nothing.
  for (bool removed = true; removed;) {
    removed = false;
    lseek(fd, 0, SEEK_SET);
    for (;;) {
      const long bytes = syscall(SYS_getdents64, fd, entries, sizeof entries);
      if (bytes <= 0) break;
      for (long at = 0; at < bytes;) {
        // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
        std::uint16_t length = 0;
        std::memcpy(&length, entries + at + 16, sizeof length);
        if (length == 0) break;
        const char* name = entries + at + 19;
        const bool dots = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
        if (!dots && unlinkat(fd, name, 0) == 0) removed = true;
        at += length;
      }
    }
  }
  close(fd);
#else
  (void)folder;
#endif
}

void RemoveSlot(const TemporarySlot& slot) {
  if (slot.kind == FileSlot) {
    unlink(slot.path);
    return;
  }
  if (slot.kind == PartialFolderSlot) RemoveFilesIn(slot.path);
  rmdir(slot.path);
}

// Ends the program by `signal` once the temporaries are gone.
void RemoveAndRaise(int signal) {
  RemoveOutputTemporaries();
  struct sigaction original {};
  original.sa_handler = SIG_DFL;
  sigemptyset(&original.sa_mask);
  sigaction(signal, &original, nullptr);
  // Inside the handler the signal is blocked: it ends the program as soon
  // as the handler returns; elsewhere at once.
  raise(signal);
}

bool IsFault(int signal) {
  for (const int fault : FaultSignals)
    if (signal == fault) return true;
  return false;
}

extern "C" void RemoveAndEnd(int signal) {
  const int saved = errno;
  if (State.waiting.load() > 0 && !IsFault(signal)) {
    State.pendingSignal.store(signal);
    errno = saved;
    return;
  }
  RemoveAndRaise(signal);
  errno = saved;
}

// Signals that end the program wait while this lives: while a temporary is
// made and registered (a signal between the two would leave it behind), and
// while outputs are renamed into place (one between two renames would leave
// the old and the new mixed). They are blocked in this thread; in another,
// the handler notes the signal and returns. One that arrived meanwhile ends
// the program when the guard goes. A fault cannot wait.
struct SignalsWait {
  sigset_t saved;
  SignalsWait() {
    State.waiting.fetch_add(1);
    sigset_t all;
    sigemptyset(&all);
    for (int signal : EndingSignals) sigaddset(&all, signal);
    pthread_sigmask(SIG_BLOCK, &all, &saved);
  }
  ~SignalsWait() {
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (State.waiting.fetch_sub(1) != 1) return;
    if (const int signal = State.pendingSignal.exchange(0); signal != 0) RemoveAndRaise(signal);
  }
  SignalsWait(const SignalsWait&) = delete;
  SignalsWait& operator=(const SignalsWait&) = delete;
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

bool InPlace(const struct stat& info) {
  return StandardStreamOf(info) >= 0 || (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode));
}

// Gives a new file an old one's owner and mode: the owner first, as giving
// a file away clears its set-id bits. Changing the owner needs root or
// membership of the group; without it the file stays the writer's.
// Goes by name (the new file is the program's own, no link), so that a mode
// without read or write permission for the writer does not stand in the way.
bool TakeOwnerAndMode(const std::string& path, const struct stat& old) {
  if (lchown(path.c_str(), old.st_uid, old.st_gid) != 0) {
    // Not allowed: the file stays the writer's.
  }
  return chmod(path.c_str(), old.st_mode & 07777) == 0;
}

std::string OpenTemporary(const std::string& name, const struct stat* existing, OutputFile& out) {
  const fs::path target = FollowLinks(name);
  const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const std::string extension = target.extension().string();
  std::string temporary =
      (directory / ("." + target.stem().string() + ".partial-XXXXXX" + extension)).string();
  {
    const SignalsWait wait;
    out.fd = mkostemps(temporary.data(), int(extension.size()), O_CLOEXEC);
    if (out.fd < 0) return FileFailure(name, "cannot create a temporary file in " + directory.string(), errno);
    out.slot = Register(temporary, FileSlot);
  }
  out.temporary = temporary;
  out.target = target.string();
  if (out.slot < 0) {
    DiscardOutput(out);
    return name + ": too many outputs open at once, or a path too long";
  }
  if (existing != nullptr) {
    if (!TakeOwnerAndMode(temporary, *existing)) {
      const int error = errno;
      DiscardOutput(out);
      return FileFailure(name, "cannot give the new file the old one's mode", error);
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(out.fd, 0666 & ~mask) != 0) {  // the permissions an ordinary create would give
      const int error = errno;
      DiscardOutput(out);
      return FileFailure(name, "cannot set its mode", error);
    }
  }
  return {};
}

// How one rename was done, and so how it is undone.
enum class Moved {
  Swapped,   // exchanged with the file it replaces: swap again
  Renamed,   // nothing was there: rename it back
  Replaced,  // over a file, by a plain rename: the old file is gone
};

#ifndef RENAME_NOREPLACE
constexpr unsigned RENAME_NOREPLACE = 1, RENAME_EXCHANGE = 2;
#endif

int RenameAt2(const std::string& from, const std::string& to, unsigned flags) {
#ifdef __linux__
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags);
#else
  (void)from, (void)to, (void)flags;
  errno = EINVAL;
  return -1;
#endif
}

bool Unsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

// rename() that fails with EEXIST instead of replacing a file (checked
// beforehand where the file system cannot do it in one call).
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (RenameAt2(from, to, RENAME_NOREPLACE) == 0) return 0;
  if (!Unsupported(errno)) return -1;
  struct stat info {};
  if (lstat(to.c_str(), &info) == 0) {
    errno = EEXIST;
    return -1;
  }
  return std::rename(from.c_str(), to.c_str());
}

std::string MoveOne(const OutputMove& move, Moved& how) {
  struct stat old {};
  if (lstat(move.to.c_str(), &old) == 0) {
    if (S_ISDIR(old.st_mode)) return FileFailure(move.to, "is a folder; not replaced", EISDIR);
    if (S_ISREG(old.st_mode) && !TakeOwnerAndMode(move.from, old))
      return FileFailure(move.to, "cannot give the new file the old one's mode", errno);
  }
  for (int attempt = 0; attempt < MaxRenameTries; ++attempt) {
    if (RenameAt2(move.from, move.to, RENAME_EXCHANGE) == 0) {
      how = Moved::Swapped;
      return {};
    }
    const bool canSwap = !Unsupported(errno);
    if (canSwap && errno != ENOENT) break;
    // Nothing there to swap with (or no `from`: said below), or a file
    // system that cannot swap.
    if (RenameNoReplace(move.from, move.to) == 0) {
      how = Moved::Renamed;
      return {};
    }
    if (errno != EEXIST) break;
    if (canSwap) continue;  // it appeared meanwhile: swap with it
    if (std::rename(move.from.c_str(), move.to.c_str()) != 0) break;
    how = Moved::Replaced;
    return {};
  }
  return FileFailure(move.to, "cannot be renamed into place from " + move.from, errno);
}

// Undoes the first done.size() moves, last first; says what could not be undone.
std::string UndoMoves(std::span<const OutputMove> moves, const std::vector<Moved>& done) {
  std::string lost;
  for (std::size_t i = done.size(); i-- > 0;) {
    const OutputMove& move = moves[i];
    bool undone = false;
    if (done[i] == Moved::Swapped) undone = RenameAt2(move.from, move.to, RENAME_EXCHANGE) == 0;
    if (done[i] == Moved::Renamed) undone = RenameNoReplace(move.to, move.from) == 0;
    if (!undone) lost += (lost.empty() ? "" : ", ") + move.to;
  }
  return lost.empty() ? "" : "; already replaced, cannot be put back: " + lost;
}

}  // namespace

std::string FileFailure(const std::string& name, const std::string& what, int error) {
  return name + ": " + what + " (" + std::generic_category().message(error) + ")";
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat infoA {}, infoB {};
  const bool existsA = stat(a.c_str(), &infoA) == 0, existsB = stat(b.c_str(), &infoB) == 0;
  if (existsA && existsB) return SameInode(infoA, infoB);
  if (existsA != existsB) return false;
  std::error_code errorA, errorB;
  const fs::path placeA = fs::weakly_canonical(a, errorA), placeB = fs::weakly_canonical(b, errorB);
  return !errorA && !errorB && placeA == placeB;
}

bool WritesInPlace(const std::string& name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0 && InPlace(info);
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
    if (errno != ENOENT) return FileFailure(name, "cannot be examined", errno);
    return OpenTemporary(name, nullptr, out);
  }
  if (const int stream = StandardStreamOf(info); stream >= 0) {
    out.fd = fcntl(stream, F_DUPFD_CLOEXEC, 3);
    return out.fd < 0 ? FileFailure(name, "cannot be written", errno) : std::string();
  }
  if (S_ISDIR(info.st_mode)) return FileFailure(name, "cannot be written", EISDIR);
  if (S_ISREG(info.st_mode)) return OpenTemporary(name, &info, out);
  out.fd = open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  return out.fd < 0 ? FileFailure(name, "cannot be opened for writing", errno) : std::string();
}

std::string MoveIntoPlace(std::span<const OutputMove> moves) {
  const SignalsWait wait;
  std::vector<Moved> done;
  done.reserve(moves.size());
  for (const OutputMove& move : moves) {
    Moved how = Moved::Renamed;
    if (std::string reason = MoveOne(move, how); !reason.empty()) return reason + UndoMoves(moves, done);
    done.push_back(how);
  }
  return {};
}

std::string CommitOutputs(std::span<OutputFile* const> outputs, std::span<const OutputMove> alsoMove) {
  std::string reason;
  std::vector<OutputMove> moves(alsoMove.begin(), alsoMove.end());
  for (OutputFile* out : outputs) {
    // Synced before the rename, so that an old file is never replaced by one
    // whose blocks have not reached the disk.
    if (!out->temporary.empty() && fsync(out->fd) != 0 && reason.empty())
      reason = FileFailure(out->name, "cannot be written", errno);
    if (close(out->fd) != 0 && reason.empty()) reason = FileFailure(out->name, "cannot be written", errno);
    out->fd = -1;
    if (!out->temporary.empty()) moves.push_back({out->temporary, out->target});
  }
  if (reason.empty()) reason = MoveIntoPlace(moves);
  // The temporaries now hold the files replaced, or on failure the new ones.
  for (OutputFile* out : outputs) DiscardOutput(*out);
  return reason;
}

std::string CommitOutput(OutputFile& out) {
  OutputFile* const outputs[] = {&out};
  return CommitOutputs(outputs);
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
    return FileFailure(name, "cannot be written", error);
  }
  // A failed write of the stream is told with the system's reason (a full
  // disk, a file size limit), whatever the writer made of it.
  errno = 0;
  const std::string problem = write(stream);
  std::string reason;
  if (std::ferror(stream) || std::fflush(stream) != 0)
    reason = errno != 0 ? FileFailure(name, "cannot be written", errno) : name + ": cannot be written";
  else if (!problem.empty())
    reason = name + ": " + problem;
  if (std::fclose(stream) != 0 && reason.empty()) reason = FileFailure(name, "cannot be written", errno);
  if (!reason.empty()) {
    DiscardOutput(out);
    return reason;
  }
  return CommitOutput(out);
}

std::string MakeTemporaryFolder(std::string& path, TemporaryFolder kind, int& slot) {
  slot = -1;
  const SlotKind slotKind = kind == TemporaryFolder::Partial ? PartialFolderSlot : MadeFolderSlot;
  int error = 0;
  {
    const SignalsWait wait;
    const bool made = path.ends_with("XXXXXX") ? mkdtemp(path.data()) != nullptr : mkdir(path.c_str(), 0777) == 0;
    if (!made) error = errno;
    if (made) slot = Register(path, slotKind);
  }
  if (error != 0) return FileFailure(path, "cannot be made", error);
  if (slot < 0) {
    rmdir(path.c_str());
    return path + ": too many outputs open at once, or a path too long";
  }
  return {};
}

void DiscardTemporary(int& slot) {
  if (slot < 0) return;
  RemoveSlot(State.temporaries[slot]);
  Release(slot);
  slot = -1;
}

void KeepTemporary(int& slot) {
  Release(slot);
  slot = -1;
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
    sigaction(signal, &action, nullptr);
  }
}

void RemoveOutputTemporaries() {
  // Files and partial folders first: a partial folder may lie in a folder
  // made for the outputs.
  for (const int pass : {0, 1})
    for (const TemporarySlot& slot : State.temporaries)
      if (slot.state.load(std::memory_order_acquire) == Ready && (slot.kind == MadeFolderSlot) == (pass == 1))
        RemoveSlot(slot);
}
